// The crash handler: names threads and reports faults that escape every handler.
#pragma once

#include <string>

namespace kam {

class ThreadManager {
public:
    // Receives the report's message, its call-stack text and the faulting thread's name.
    using ErrorCallback = void (*)(const std::string& message, const std::string& call_stack,
                                   const std::string& thread_name);

    ThreadManager(const std::string& main_thread_name, ErrorCallback callback);
    ~ThreadManager();
    ThreadManager(const ThreadManager&) = delete;
    ThreadManager& operator=(const ThreadManager&) = delete;

    const std::string& main_thread_name() const { return main_thread_name_; }
    ErrorCallback callback() const { return callback_; }

private:
    std::string main_thread_name_;
    ErrorCallback callback_;
};

}  // namespace kam
