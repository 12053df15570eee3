// The job queue: worker threads take jobs in order; the calling thread prints their held output
// in the same order.
#include "utility/job_queue.h"

#include <algorithm>
#include <chrono>

namespace kam {

namespace {

// The actions of the job the calling thread runs for a queue, if any.
struct ReleaseActions {
    HeldOutput* output;
    std::vector<std::pair<std::size_t, int>>* commit_marks;
    std::vector<std::function<void()>>* commits;
    std::vector<std::function<void()>>* discards;
    bool* redo;
    std::vector<std::function<bool()>>* redo_checks;
};
thread_local ReleaseActions* running_job = nullptr;

}  // namespace

void JobQueue::on_release(std::function<void()> commit, std::function<void()> discard) {
    if (running_job == nullptr) {
        commit();
        return;
    }
    // Where the job's messages stood: the commit runs there among them, as it would in a loop.
    running_job->commit_marks->emplace_back(running_job->output->text.size(),
                                            running_job->output->errors);
    running_job->commits->push_back(std::move(commit));
    running_job->discards->push_back(std::move(discard));
}

bool JobQueue::redo_in_order() {
    if (running_job == nullptr)
        return false;
    *running_job->redo = true;
    return true;
}

void JobQueue::redo_if(std::function<bool()> changed) {
    if (running_job != nullptr)
        running_job->redo_checks->push_back(std::move(changed));
}

void JobQueue::drop_from(std::size_t first) {
    for (std::size_t i = first; i < slots_.size(); ++i) {
        for (const auto& discard : slots_[i]->discards)
            discard();
    }
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(first), slots_.end());
}

JobQueue::JobQueue(int jobs) : limit_(static_cast<std::size_t>(jobs < 1 ? 1 : jobs)) {
    if (jobs <= 1)
        return;
    for (int i = 0; i < jobs; ++i)
        workers_.emplace_back([this] { work(); });
}

JobQueue::~JobQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        // Jobs not started yet are not started now.
        slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(next_), slots_.end());
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    // What ran after a failure leaves nothing behind.
    drop_from(0);
}

void JobQueue::add(std::function<void()> job) {
    if (workers_.empty()) {
        job();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // Held output is bounded too, but a slow job at the front must not stall the threads: sizes
    // of content files vary a hundredfold. At most 512 jobs with two temporaries each are held.
    wait_releasing(lock, [&] { return slots_.size() < window(); });
    auto slot = std::make_shared<Slot>();
    slot->job = std::move(job);
    slots_.push_back(std::move(slot));
    work_ready_.notify_one();
}

void JobQueue::finish() {
    if (workers_.empty())
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    wait_releasing(lock, [&] { return slots_.empty(); });
}

void JobQueue::work() {
    StreamSet streams;
    use_streams(&streams);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return stopping_ || next_ < slots_.size(); });
        if (stopping_) {
            use_streams(nullptr);
            return;
        }
        const std::shared_ptr<Slot> slot = slots_[next_++];
        lock.unlock();
        hold_output(&slot->output);
        ReleaseActions actions{&slot->output,   &slot->commit_marks, &slot->commits,
                               &slot->discards, &slot->redo,         &slot->redo_checks};
        running_job = &actions;
        try {
            slot->job();
        } catch (...) {
            slot->failure = std::current_exception();
        }
        running_job = nullptr;
        hold_output(nullptr);
        lock.lock();
        slot->done = true;
        if (worth_releasing())
            job_done_.notify_one();  // only the releasing thread waits for it
    }
}

bool JobQueue::worth_releasing() const {
    // Waking the releasing thread for every job cost a context switch each, a sixth of the CPU of
    // small jobs: it is woken for half a window of finished jobs at the front, for the last ones
    // and for a failure, which stops the adding; what finished besides waits for its next look.
    std::size_t run = 0;
    while (run < slots_.size() && slots_[run]->done) {
        if (slots_[run]->failure)
            return true;
        ++run;
    }
    return run != 0 && (run == slots_.size() || run >= window() / 2);
}

template <typename Done>
void JobQueue::wait_releasing(std::unique_lock<std::mutex>& lock, Done done) {
    // Every 20 ms at least, so that the messages of a job that finished come out while the jobs
    // after it still run.
    for (;;) {
        release(lock);
        if (done())
            return;
        job_done_.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void JobQueue::release(std::unique_lock<std::mutex>& lock) {
    while (!slots_.empty() && slots_.front()->done) {
        const std::shared_ptr<Slot> slot = slots_.front();
        slots_.pop_front();
        --next_;
        lock.unlock();
        for (const auto& changed : slot->redo_checks) {
            if (slot->redo)
                break;
            try {
                slot->redo = changed();
            } catch (...) {
                slot->redo = true;  // the run in order finds out for itself
            }
        }
        if (slot->redo) {
            // Its first run cannot stand: run it again here, in order, printing as it goes.
            for (const auto& discard : slot->discards)
                discard();
            slot->commits.clear();
            slot->commit_marks.clear();
            slot->redo_checks.clear();
            slot->output = HeldOutput{};
            slot->failure = nullptr;
            try {
                slot->job();
            } catch (...) {
                slot->failure = std::current_exception();
            }
        }
        // Each commit runs where the job asked for it among its messages. What the job made
        // before it failed stays, as it would have in a sequential run; what it printed after a
        // commit that fails goes, as that run would have stopped there.
        std::size_t printed = 0;
        int counted = 0;
        const auto print_to = [&](std::size_t end, int errors) {
            release_output(
                HeldOutput{slot->output.text.substr(printed, end - printed), errors - counted});
            printed = end;
            counted = errors;
        };
        std::size_t committed = 0;
        try {
            for (; committed < slot->commits.size(); ++committed) {
                print_to(slot->commit_marks[committed].first, slot->commit_marks[committed].second);
                slot->commits[committed]();
            }
            print_to(slot->output.text.size(), slot->output.errors);
        } catch (...) {
            // What was committed before the failing one stays, as it would in a loop.
            if (!slot->failure)
                slot->failure = std::current_exception();
            for (std::size_t i = committed; i < slot->discards.size(); ++i)
                slot->discards[i]();
        }
        lock.lock();
        if (slot->failure) {
            // Nothing after the failure starts; what already runs finishes unseen and is
            // discarded when the queue ends.
            slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(next_), slots_.end());
            std::rethrow_exception(slot->failure);
        }
    }
}

}  // namespace kam
