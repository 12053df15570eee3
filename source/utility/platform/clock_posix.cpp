// The monotonic clock in nanoseconds.
#include "utility/platform/clock.h"

#include <time.h>

namespace kam::platform {

std::uint64_t clock_ticks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t clock_frequency() {
    return 1000000000u;
}

}  // namespace kam::platform
