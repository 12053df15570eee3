// Thread identity.
#pragma once

#include <cstdint>

namespace kam::platform {

// The system's id of the calling thread; never 0. Safe in a fault handler.
std::uint64_t current_thread_id();

// The threads the hardware runs at once; at least 1.
int hardware_threads();

}  // namespace kam::platform
