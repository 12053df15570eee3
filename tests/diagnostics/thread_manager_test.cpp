// Thread names in crash reports, and the process-wide instance.
#include "diagnostics/thread_manager.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "support/platform.h"
#include "support/trovex_runner.h"
#include "utility/platform/alternate_stack.h"

namespace {

void ignore_report(const std::string&, const std::string&, const std::string&) {}

TEST(ThreadManagerTest, ThreadsAreNamedWhileRegistered) {
    {
        kam::ThreadManager manager("trovex", ignore_report);
        EXPECT_EQ(kam::ThreadManager::instance(), &manager);
        EXPECT_EQ(manager.thread_name(), "trovex");

        std::string unregistered, registered, renamed, after;
        std::thread worker([&] {
            unregistered = manager.thread_name();
            manager.register_thread("loader");
            registered = manager.thread_name();
            manager.register_thread("writer");
            renamed = manager.thread_name();
            manager.unregister_thread();
            after = manager.thread_name();
        });
        worker.join();
        EXPECT_EQ(unregistered, "Unknown thread");
        EXPECT_EQ(registered, "loader");
        EXPECT_EQ(renamed, "writer");
        EXPECT_EQ(after, "Unknown thread");
        EXPECT_EQ(manager.thread_name(), "trovex");
    }
    EXPECT_EQ(kam::ThreadManager::instance(), nullptr);
}

// Every thread that may fault gets a stack of its own for the report: it must go with the thread.
TEST(ThreadManagerTest, AlternateStacksAreUnmappedWhenRemoved) {
    if (test::on_windows)
        GTEST_SKIP() << "counts the mappings in /proc";
    const auto mappings = [] {
        std::istringstream lines(test::read_file("/proc/self/maps"));
        int count = 0;
        for (std::string line; std::getline(lines, line);)
            ++count;
        return count;
    };
    const int before = mappings();
    void* stack = kam::platform::install_alternate_stack();
    ASSERT_NE(stack, nullptr);
    EXPECT_GT(mappings(), before);
    kam::platform::remove_alternate_stack(stack);
    EXPECT_EQ(mappings(), before);
}

}  // namespace
