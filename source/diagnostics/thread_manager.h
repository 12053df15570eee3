// The crash handler: names threads and reports faults that escape every handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "utility/platform/fault_signals.h"

namespace kam {

class StackWalker;

// Catches the process's fatal faults (invalid accesses, division by zero, stack overflow, abort)
// and reports each as "Unhandled exception - " + the fault's name + "\n\n", with the faulting
// thread's call stack and name, through the error callback; then ends the process with exit
// code 1. One instance at a time; it is the process-wide one while it lives.
class ThreadManager {
public:
    // Receives the report's message, its call-stack text and the faulting thread's name.
    using ErrorCallback = void (*)(const std::string& message, const std::string& call_stack,
                                   const std::string& thread_name);

    // Must be created on the main thread, which it registers under main_thread_name.
    ThreadManager(const std::string& main_thread_name, ErrorCallback callback);
    ~ThreadManager();
    ThreadManager(const ThreadManager&) = delete;
    ThreadManager& operator=(const ThreadManager&) = delete;

    // The live instance, or null.
    static ThreadManager* instance();

    // Names the calling thread in reports and gives it a stack for reporting its own stack
    // overflow. Call unregister_thread from the same thread before it ends.
    void register_thread(const std::string& name);
    void unregister_thread();
    // The calling thread's registered name, or "Unknown thread".
    std::string thread_name() const;

    const std::string& main_thread_name() const { return main_thread_name_; }
    ErrorCallback callback() const { return callback_; }

    // The report of a fault on the calling thread; never returns.
    [[noreturn]] void unhandled_exception(const platform::Fault& fault);

private:
    // Records are read by the fault handler without the lock: the id is published last.
    struct ThreadRecord {
        std::atomic<std::uint64_t> id{0};
        char name[64] = {};
        void* alternate_stack = nullptr;
    };
    static constexpr int max_threads = 64;

    const char* name_of(std::uint64_t thread_id) const;

    std::mutex mutex_;
    ThreadRecord threads_[max_threads];
    std::uint64_t main_thread_id_;
    std::string main_thread_name_;
    ErrorCallback callback_;
    // Made up front: the report must not depend on the heap.
    std::unique_ptr<StackWalker> walker_;
};

}  // namespace kam
