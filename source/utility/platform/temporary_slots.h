// The registry of temporaries that an interrupt removes, shared by the systems' handlers. The
// handler may only read what is there: paths are kept ready for the system's delete call, in
// fixed storage, and a slot is claimed, filled and only then marked live.
#pragma once

#include <atomic>
#include <cstring>
#include <string>

#include "utility/platform/interrupts.h"

namespace kam::platform {

template <typename Char>
class TemporarySlots {
public:
    // The slot holding path, or -1 when it is too long or every slot is taken.
    int claim(const std::basic_string<Char>& path) {
        if (path.size() >= max_path)
            return -1;
        for (int i = 0; i < max_temporaries; ++i) {
            int expected = slot_free;
            if (!slots_[i].state.compare_exchange_strong(expected, slot_claimed))
                continue;
            std::memcpy(slots_[i].path, path.c_str(), (path.size() + 1) * sizeof(Char));
            slots_[i].state.store(slot_live, std::memory_order_release);
            return i;
        }
        return -1;
    }
    void release(int slot) {
        if (slot >= 0 && slot < max_temporaries)
            slots_[slot].state.store(slot_free, std::memory_order_release);
    }
    // Calls remove with the path of every live slot; safe in a signal handler.
    template <typename Remove>
    void remove_live(Remove remove) {
        for (Slot& slot : slots_) {
            if (slot.state.load(std::memory_order_acquire) == slot_live)
                remove(slot.path);
        }
    }

private:
    static constexpr std::size_t max_path = 4096;
    enum SlotState : int { slot_free, slot_claimed, slot_live };
    struct Slot {
        std::atomic<int> state{slot_free};
        Char path[max_path]{};
    };
    static_assert(std::atomic<int>::is_always_lock_free, "the interrupt handler reads the slots");

    Slot slots_[max_temporaries];
};

}  // namespace kam::platform
