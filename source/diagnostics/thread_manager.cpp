// The crash handler. For now it only keeps the main thread's name and the error callback.
#include "diagnostics/thread_manager.h"

namespace kam {

ThreadManager::ThreadManager(const std::string& main_thread_name, ErrorCallback callback)
    : main_thread_name_(main_thread_name), callback_(callback) {}

ThreadManager::~ThreadManager() = default;

}  // namespace kam
