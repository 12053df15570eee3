// Thread ids are the system's, as a debugger shows them.
#include "utility/platform/threads.h"

#include <windows.h>

namespace kam::platform {

std::uint64_t current_thread_id() {
    return GetCurrentThreadId();
}

int hardware_threads() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

}  // namespace kam::platform
