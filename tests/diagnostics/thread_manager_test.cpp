// Thread names in crash reports, and the process-wide instance.
#include "diagnostics/thread_manager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/platform.h"
#include "support/trovex_runner.h"
#include "utility/platform/alternate_stack.h"

namespace {

void ignore_report(const std::string&, const std::string&, const std::string&) {}

TEST(ThreadManagerTest, ThreadsAreNamedWhileRegistered) {
    // The fault handling in place before the manager is back after it.
    const auto handling = std::signal(SIGABRT, SIG_IGN);
    {
        kam::ThreadManager manager("trovex", ignore_report);
        EXPECT_EQ(kam::ThreadManager::instance(), &manager);
        EXPECT_EQ(manager.thread_name(), "trovex");

        std::vector<std::string> names;
        std::thread worker([&] {
            names.push_back(manager.thread_name());
            manager.register_thread("loader");
            names.push_back(manager.thread_name());
            manager.register_thread("writer");
            names.push_back(manager.thread_name());
            manager.unregister_thread();
            names.push_back(manager.thread_name());
        });
        worker.join();
        EXPECT_EQ(names, (std::vector<std::string>{"Unknown thread", "loader", "writer",
                                                   "Unknown thread"}));
        EXPECT_EQ(manager.thread_name(), "trovex");
    }
    EXPECT_EQ(kam::ThreadManager::instance(), nullptr);
    EXPECT_EQ(std::signal(SIGABRT, handling), SIG_IGN);
}

// Every thread that may fault gets a stack of its own for the report: it must go with the thread.
TEST(ThreadManagerTest, AlternateStacksAreUnmappedWhenRemoved) {
    if (test::on_windows)
        GTEST_SKIP() << "counts the mappings in /proc";
    // Whether an address lies in a mapping; counting mappings failed under the sanitizers, whose
    // own allocations map and unmap meanwhile.
    const auto mapped = [](const void* address) {
        std::istringstream lines(test::read_file("/proc/self/maps"));
        const auto at = reinterpret_cast<std::uintptr_t>(address);
        for (std::string line; std::getline(lines, line);) {
            const std::uintptr_t begin = std::stoull(line, nullptr, 16);
            const std::uintptr_t end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
            if (at >= begin && at < end)
                return true;
        }
        return false;
    };
    void* stack = kam::platform::install_alternate_stack();
    ASSERT_NE(stack, nullptr);
    EXPECT_TRUE(mapped(stack));
    kam::platform::remove_alternate_stack(stack);
    EXPECT_FALSE(mapped(stack));
}

}  // namespace
