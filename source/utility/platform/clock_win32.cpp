// The performance counter, which Windows keeps steady across processors.
#include "utility/platform/clock.h"

#include <windows.h>

namespace kam::platform {

std::uint64_t clock_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart);
}

std::uint64_t clock_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(frequency.QuadPart);
}

}  // namespace kam::platform
