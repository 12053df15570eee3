// The job queue: worker threads take jobs in order; the calling thread prints their held output
// in the same order.
#include "utility/job_queue.h"

#include <algorithm>

namespace kam {

namespace {

// The actions of the job the calling thread runs for a queue, if any.
struct ReleaseActions {
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
    if (running_job != nullptr) running_job->redo_checks->push_back(std::move(changed));
}

void JobQueue::drop_from(std::size_t first) {
    for (std::size_t i = first; i < slots_.size(); ++i) {
        for (const auto& discard : slots_[i]->discards) discard();
    }
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(first), slots_.end());
}

JobQueue::JobQueue(int jobs) : limit_(static_cast<std::size_t>(jobs < 1 ? 1 : jobs)) {
    if (jobs <= 1)
        return;
    for (int i = 0; i < jobs; ++i) workers_.emplace_back([this] { work(); });
}

JobQueue::~JobQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        // Jobs not started yet are not started now.
        slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(next_), slots_.end());
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_) worker.join();
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
    const std::size_t window = std::max<std::size_t>(2 * limit_, 64);
    job_done_.wait(lock, [&] {
        release(lock);
        return slots_.size() < window;
    });
    auto slot = std::make_shared<Slot>();
    slot->job = std::move(job);
    slots_.push_back(std::move(slot));
    work_ready_.notify_one();
}

void JobQueue::finish() {
    if (workers_.empty())
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    job_done_.wait(lock, [&] {
        release(lock);
        return slots_.empty();
    });
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
        ReleaseActions actions{&slot->commits, &slot->discards, &slot->redo, &slot->redo_checks};
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
        job_done_.notify_one();  // only the releasing thread waits for it
    }
}

void JobQueue::release(std::unique_lock<std::mutex>& lock) {
    while (!slots_.empty() && slots_.front()->done) {
        const std::shared_ptr<Slot> slot = slots_.front();
        slots_.pop_front();
        --next_;
        lock.unlock();
        for (const auto& changed : slot->redo_checks) {
            if (slot->redo) break;
            try {
                slot->redo = changed();
            } catch (...) {
                slot->redo = true;  // the run in order finds out for itself
            }
        }
        if (slot->redo) {
            // Its first run cannot stand: run it again here, in order, printing as it goes.
            for (const auto& discard : slot->discards) discard();
            slot->commits.clear();
            slot->redo_checks.clear();
            slot->output = HeldOutput{};
            slot->failure = nullptr;
            try {
                slot->job();
            } catch (...) {
                slot->failure = std::current_exception();
            }
        }
        release_output(slot->output);
        // What the job made before it failed stays, as it would have in a sequential run.
        try {
            for (const auto& commit : slot->commits) commit();
        } catch (...) {
            if (!slot->failure) slot->failure = std::current_exception();
            for (const auto& discard : slot->discards) discard();
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
