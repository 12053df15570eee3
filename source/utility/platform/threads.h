// Thread identity.
#pragma once

#include <cstdint>

namespace kam::platform {

// The system's id of the calling thread; never 0. Safe in a fault handler.
std::uint64_t current_thread_id();

}  // namespace kam::platform
