// Runs jobs on several threads and prints what each wrote to the output streams in the order the
// jobs were added, so that a run prints the same bytes for any number of threads.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "utility/output_streams.h"

namespace kam {

class JobQueue {
public:
    // Up to jobs threads; with 1 (or less) every job runs inside add, on the calling thread,
    // printing as it goes, exactly as a loop would.
    explicit JobQueue(int jobs);
    // Waits for the jobs that were started; what they printed after a failure is dropped.
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Queues a job; blocks while the jobs not yet printed fill the window (twice the threads, at
    // least 64), so that a slow job holds back a bounded number of others. Throws the
    // exception of the first job, in the order added, that threw, after printing what the jobs
    // before it and it printed; the jobs after it are not started or their output is dropped.
    void add(std::function<void()> job);
    // Waits for every job and prints what is still held; throws as add does.
    void finish();

    int threads() const { return static_cast<int>(workers_.size()); }

    // For work whose result depends on what the jobs before it did (a draw from a sequence the
    // whole run shares): true inside a queued job, which is then run again on the releasing
    // thread in its turn, the first run's output and actions dropped (the caller may go on with
    // any value); false on the releasing thread or without a queue, where the work is in order.
    static bool redo_in_order();
    // For a job that rests on what it found when it started, which the jobs before it may still
    // change (a binary form not yet up to date): changed runs on the releasing thread in the
    // job's turn, and when it says true the job is run again there as for redo_in_order. Nothing
    // outside a queued job.
    static void redo_if(std::function<bool()> changed);

    // For a job that must not change what a sequential run would not have changed: commit runs
    // on the thread that releases the job, in the order of the jobs, once every job before it
    // succeeded (at once when not inside a queued job), between the messages the job printed
    // before and after asking; discard runs instead when a job before it failed. An exception
    // from commit is the job's failure, and drops what the job printed after asking; discard
    // must not throw, and must be harmless after its commit.
    static void on_release(std::function<void()> commit, std::function<void()> discard);

private:
    struct Slot {
        std::function<void()> job;
        HeldOutput output;
        std::exception_ptr failure;
        bool done = false;
        std::vector<std::function<void()>> commits;
        // The size of the output and its errors when each commit was asked for.
        std::vector<std::pair<std::size_t, int>> commit_marks;
        std::vector<std::function<void()>> discards;
        bool redo = false;
        std::vector<std::function<bool()>> redo_checks;
    };
    // Runs the discards of every slot from first on and drops those slots.
    void drop_from(std::size_t first);

    // Jobs not yet printed that add waits for: twice the threads, at least 64.
    std::size_t window() const { return std::max<std::size_t>(2 * limit_, 64); }
    // Whether the finished jobs at the front make waking the releasing thread worth it. Called
    // with the lock held.
    bool worth_releasing() const;
    // Prints finished jobs until done() holds; woken by worth_releasing, or after 20 ms. Called
    // with the lock held.
    template <typename Done>
    void wait_releasing(std::unique_lock<std::mutex>& lock, Done done);

    void work();
    // Prints the finished jobs at the front; throws the first failure. Called with the lock held.
    void release(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    // Workers wait for jobs, the releasing thread for finished ones: one wake-up per event.
    std::condition_variable work_ready_;
    std::condition_variable job_done_;
    // Every job not yet released, in order; next_ indexes the first one not yet started.
    std::deque<std::shared_ptr<Slot>> slots_;
    std::size_t next_ = 0;
    std::size_t limit_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace kam
