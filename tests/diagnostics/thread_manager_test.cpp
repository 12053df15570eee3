// Thread names in crash reports, and the process-wide instance.
#include "diagnostics/thread_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

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

}  // namespace
