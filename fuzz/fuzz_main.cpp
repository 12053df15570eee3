// The libFuzzer entry of one target, chosen when the program is built (TROVEX_FUZZ_TARGET).
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::TROVEX_FUZZ_TARGET(data, size);
    return 0;
}
