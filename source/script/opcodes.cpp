// The opcode table indexed by byte value.
#include "script/opcodes.h"

#include <array>

namespace kam::script {

namespace {

constexpr std::array<OpcodeInfo, 256> make_table() {
    std::array<OpcodeInfo, 256> table{};
#define KAM_SCRIPT_OPCODE_ROW(identifier, number, operand, limit_message) \
    table[number] = OpcodeInfo{#identifier, OperandKind::operand, limit_message};
    KAM_SCRIPT_OPCODES(KAM_SCRIPT_OPCODE_ROW)
#undef KAM_SCRIPT_OPCODE_ROW
    return table;
}

constexpr std::array<OpcodeInfo, 256> table = make_table();

}  // namespace

const OpcodeInfo& opcode_info(std::uint8_t number) {
    return table[number];
}

}  // namespace kam::script
