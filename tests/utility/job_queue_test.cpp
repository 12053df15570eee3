// Jobs on several threads print in the order they were added, and the first failure in that order
// is the one that is thrown.
#include "utility/job_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "utility/command_line.h"

namespace {

// Job i sleeps a little (later jobs less, so they finish first) and prints its number; job
// failing_job throws after printing.
std::string run(int threads, int jobs, int failing_job, bool& threw) {
    CommandLine line(std::vector<std::string>{"-v"});
    testing::internal::CaptureStdout();
    threw = false;
    try {
        kam::JobQueue queue(threads);
        for (int i = 0; i < jobs; ++i) {
            queue.add([i, jobs, failing_job] {
                std::this_thread::sleep_for(std::chrono::microseconds((jobs - i) * 50));
                log_verbose << i << ' ' << std::flush;
                // Committed in order, among the job's messages, and only up to the failure; the
                // rest is discarded.
                kam::JobQueue::on_release([i] { std::cout << 'c' << i << ' ' << std::flush; },
                                          [] {});
                log_verbose << 'a' << i << ' ' << std::flush;
                if (i == failing_job)
                    throw std::runtime_error("failed");
            });
        }
        queue.finish();
    } catch (const std::runtime_error&) {
        threw = true;
    }
    return testing::internal::GetCapturedStdout();
}

TEST(JobQueueTest, OutputAndFailuresComeInTheOrderOfTheJobs) {
    for (const int failing_job : {-1, 0, 17, 39}) {
        bool sequential_threw = false;
        const std::string sequential = run(1, 40, failing_job, sequential_threw);
        for (const int threads : {2, 8}) {
            bool threw = false;
            EXPECT_EQ(run(threads, 40, failing_job, threw), sequential) << threads;
            EXPECT_EQ(threw, sequential_threw);
        }
        EXPECT_EQ(sequential_threw, failing_job >= 0);
    }
}

// A finished job is released while the jobs after it still run, however soon after the last
// release it finished: here the third job waits for the second's release.
TEST(JobQueueTest, AFinishedJobIsReleasedWhileLaterOnesRun) {
    std::atomic<int> released{0};
    bool third_saw_it = false;
    const auto wait_for = [&](int count) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (released < count && std::chrono::steady_clock::now() < give_up)
            std::this_thread::yield();
        return released >= count;
    };
    {
        kam::JobQueue queue(2);
        queue.add([&] { kam::JobQueue::on_release([&] { ++released; }, [] {}); });
        queue.add([&] {
            wait_for(1);
            kam::JobQueue::on_release([&] { ++released; }, [] {});
        });
        queue.add([&] { third_saw_it = wait_for(2); });
        queue.finish();
    }
    EXPECT_TRUE(third_saw_it);
}

}  // namespace
