// The job queue: worker threads take jobs in order; the calling thread prints their held output
// in the same order.
#include "utility/job_queue.h"

namespace kam {

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
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void JobQueue::add(std::function<void()> job) {
    if (workers_.empty()) {
        job();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // Held output is bounded too: a slow job at the front holds back at most limit_ others.
    changed_.wait(lock, [&] {
        release(lock);
        return slots_.size() < 2 * limit_;
    });
    auto slot = std::make_shared<Slot>();
    slot->job = std::move(job);
    slots_.push_back(std::move(slot));
    changed_.notify_all();
}

void JobQueue::finish() {
    if (workers_.empty())
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
        release(lock);
        return slots_.empty();
    });
}

void JobQueue::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || next_ < slots_.size(); });
        if (stopping_)
            return;
        const std::shared_ptr<Slot> slot = slots_[next_++];
        lock.unlock();
        hold_output(&slot->output);
        try {
            slot->job();
        } catch (...) {
            slot->failure = std::current_exception();
        }
        hold_output(nullptr);
        lock.lock();
        slot->done = true;
        changed_.notify_all();
    }
}

void JobQueue::release(std::unique_lock<std::mutex>& lock) {
    while (!slots_.empty() && slots_.front()->done) {
        const std::shared_ptr<Slot> slot = slots_.front();
        slots_.pop_front();
        --next_;
        lock.unlock();
        release_output(slot->output);
        lock.lock();
        if (slot->failure) {
            // Nothing after the failure starts; what already runs finishes unseen.
            slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(next_), slots_.end());
            std::rethrow_exception(slot->failure);
        }
    }
}

}  // namespace kam
