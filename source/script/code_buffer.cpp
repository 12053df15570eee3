// Encodings of the bytecode operands.
#include "script/code_buffer.h"

#include <cassert>
#include <cstring>

#include "script/script_error.h"

namespace kam::script {

std::uint32_t CodeBuffer::begin(Opcode opcode, std::int32_t line) {
    const std::uint32_t position = size();
    code_.push_back(static_cast<std::uint8_t>(opcode));
    if (record_lines_) lines_.push_back(line);
    return position;
}

// Operands are a few bytes: plain appends beat the general insert. The line table gets -1 for
// each of their bytes.
void CodeBuffer::put(const std::uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) code_.push_back(bytes[i]);
    if (!record_lines_) return;
    for (size_t i = 0; i < count; ++i) lines_.push_back(-1);
}

void CodeBuffer::put_u32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    put(bytes, 4);
}

void CodeBuffer::put_name(std::string_view name) {
    const size_t end = name.find('\0');
    if (end != std::string_view::npos) name = name.substr(0, end);
    put(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    static constexpr std::uint8_t zeros[5] = {};
    put(zeros, name.size() < 4 ? 5 - name.size() : 1);
}

std::uint32_t CodeBuffer::write(Opcode opcode, std::int32_t line) {
    assert(opcode_info(opcode).operand == OperandKind::none);
    return begin(opcode, line);
}

std::uint32_t CodeBuffer::write_count(Opcode opcode, std::int64_t value, std::int32_t line) {
    const OpcodeInfo& info = opcode_info(opcode);
    assert(info.operand == OperandKind::u8 || info.operand == OperandKind::u16);
    const std::uint32_t position = begin(opcode, line);
    const std::int64_t limit = info.operand == OperandKind::u8 ? 255 : 65535;
    if (value > limit || value < 0) throw GeneratorError(info.limit_message);
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    put(bytes, info.operand == OperandKind::u16 ? 2 : 1);
    return position;
}

std::uint32_t CodeBuffer::write_offset(Opcode opcode, std::int32_t offset, std::int32_t line) {
    assert(opcode_info(opcode).operand == OperandKind::offset);
    const std::uint32_t position = begin(opcode, line);
    put_u32(static_cast<std::uint32_t>(offset));
    return position;
}

std::uint32_t CodeBuffer::write_number(float value, std::int32_t line) {
    const std::uint32_t position = begin(Opcode::push_number, line);
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put_u32(bits);
    return position;
}

std::uint32_t CodeBuffer::write_name(Opcode opcode, std::string_view name, std::int32_t line) {
    assert(opcode_info(opcode).operand == OperandKind::name);
    const std::uint32_t position = begin(opcode, line);
    put_name(name);
    return position;
}

std::uint32_t CodeBuffer::write_function(std::int32_t offset, std::string_view name, std::int32_t line) {
    const std::uint32_t position = begin(Opcode::function, line);
    put_u32(static_cast<std::uint32_t>(offset));
    put_name(name);
    return position;
}

void CodeBuffer::reserve(size_t bytes) {
    code_.reserve(bytes);
    if (record_lines_) lines_.reserve(bytes);
}

void CodeBuffer::patch_offset(std::uint32_t position, std::uint32_t offset) {
    assert(position + 5 <= code_.size());
    for (int i = 0; i < 4; ++i) code_[position + 1 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
}

}  // namespace kam::script
