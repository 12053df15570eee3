// A high-resolution monotonic clock.
#pragma once

#include <cstdint>

namespace kam::platform {

// Ticks of a monotonic clock; clock_frequency() ticks make one second.
std::uint64_t clock_ticks();
std::uint64_t clock_frequency();

}  // namespace kam::platform
