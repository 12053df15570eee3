// Thread ids are the kernel's task ids, which a debugger and the system's tools show too.
#include "utility/platform/threads.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

namespace kam::platform {

std::uint64_t current_thread_id() {
    return static_cast<std::uint64_t>(gettid());
}

int hardware_threads() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace kam::platform
