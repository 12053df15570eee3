// The bytecode's opcodes: one table gives each its number, name, operand and limit message.
#pragma once

#include <cstdint>
#include <string_view>

namespace kam::script {

// What follows the opcode byte.
enum class OperandKind : std::uint8_t {
    none,
    u8,              // a count or slot, checked against 255
    u16,             // a global slot, checked against 65535
    offset,          // u32 code offset
    number,          // f32
    name,            // zero-terminated, padded with zeros to at least 5 bytes
    offset_and_name  // a function record: u32 code offset, then its name
};

// X(identifier, number, operand kind, message when the operand exceeds its limit)
#define KAM_SCRIPT_OPCODES(X)                                                          \
    X(end, 0, none, nullptr)                                                           \
    X(import, 1, name, nullptr)                                                        \
    X(object, 2, name, nullptr)                                                        \
    X(function, 3, offset_and_name, nullptr)                                           \
    X(class_begin, 4, name, nullptr)                                                   \
    X(class_end, 5, none, nullptr)                                                     \
    X(push_number, 6, number, nullptr)                                                 \
    X(push_string, 7, name, nullptr)                                                   \
    X(push_true, 8, none, nullptr)                                                     \
    X(push_false, 9, none, nullptr)                                                    \
    X(push_void, 10, none, nullptr)                                                    \
    X(push_this, 11, none, nullptr)                                                    \
    X(push_global_value, 12, u16, "More than 65536 local variables not supported")     \
    X(push_global_reference, 13, u16, "More than 65536 local variables not supported") \
    X(push_member_value, 14, u8, "More than 256 class members not supported")          \
    X(push_member_reference, 15, u8, "More than 256 class members not supported")      \
    X(push_local_value, 16, u8, "More than 256 local variables not supported")         \
    X(push_local_reference, 17, u8, "More than 256 local variables not supported")     \
    X(cnv_number, 18, none, nullptr)                                                   \
    X(cnv_string, 19, none, nullptr)                                                   \
    X(cnv_boolean, 20, none, nullptr)                                                  \
    X(pop, 21, none, nullptr)                                                          \
    X(add, 22, none, nullptr)                                                          \
    X(sub, 23, none, nullptr)                                                          \
    X(mul, 24, none, nullptr)                                                          \
    X(div, 25, none, nullptr)                                                          \
    X(mod, 26, none, nullptr)                                                          \
    X(negate, 27, none, nullptr)                                                       \
    X(lt, 33, none, nullptr)                                                           \
    X(le, 34, none, nullptr)                                                           \
    X(eq, 35, none, nullptr)                                                           \
    X(ge, 36, none, nullptr)                                                           \
    X(gt, 37, none, nullptr)                                                           \
    X(ne, 38, none, nullptr)                                                           \
    X(resize_locals, 39, u8, "More than 256 local variables not supported")            \
    X(assign, 40, none, nullptr)                                                       \
    X(bra, 41, offset, nullptr)                                                        \
    X(brif, 42, offset, nullptr)                                                       \
    X(brifn, 43, offset, nullptr)                                                      \
    X(member, 44, name, nullptr)                                                       \
    X(call, 45, u8, "More than 256 parameters not supported")                          \
    X(param, 46, none, nullptr)                                                        \
    X(deref, 47, none, nullptr)

enum class Opcode : std::uint8_t {
#define KAM_SCRIPT_OPCODE_ENUM(identifier, number, operand, limit_message) identifier = number,
    KAM_SCRIPT_OPCODES(KAM_SCRIPT_OPCODE_ENUM)
#undef KAM_SCRIPT_OPCODE_ENUM
};

struct OpcodeInfo {
    std::string_view name;  // empty for the unused numbers
    OperandKind operand;
    const char* limit_message;  // null when the operand has no limit
};

// The table row of any byte value; unused numbers have an empty name.
const OpcodeInfo& opcode_info(std::uint8_t number);
inline const OpcodeInfo& opcode_info(Opcode opcode) {
    return opcode_info(static_cast<std::uint8_t>(opcode));
}

}  // namespace kam::script
