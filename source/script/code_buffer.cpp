// Encodings of the bytecode operands.
#include "script/code_buffer.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <iterator>

#include "script/script_error.h"

namespace kam::script {

void CodeBuffer::lines_of(std::uint32_t first, std::uint32_t count, std::int32_t* out) const {
    assert(record_lines_ && size_t{first} + count <= code_.size());
    // The run holding first: the last that begins at or before it.
    auto run = std::upper_bound(
        runs_.begin(), runs_.end(), first,
        [](std::uint32_t position, const LineRun& r) { return position < r.position; });
    // A word of the bitmap at a time: most bytes are operands, and a whole word is filled at once.
    const std::uint32_t end = first + count;
    for (std::uint32_t at = first; at < end;) {
        const std::uint32_t bits_here = std::min<std::uint32_t>(64 - at % 64, end - at);
        // Operand bytes after the last opcode may lie past the last word.
        std::uint64_t word = at / 64 < starts_.size() ? starts_[at / 64] >> (at % 64) : 0;
        if (bits_here < 64)
            word &= (std::uint64_t{1} << bits_here) - 1;
        std::fill(out, out + bits_here, -1);
        for (; word != 0; word &= word - 1) {
            const std::uint32_t bit = static_cast<std::uint32_t>(std::countr_zero(word));
            while (run != runs_.end() && run->position <= at + bit)
                ++run;
            out[bit] = std::prev(run)->line;
        }
        out += bits_here;
        at += bits_here;
    }
}

std::vector<std::int32_t> CodeBuffer::lines() const {
    std::vector<std::int32_t> table(record_lines_ ? code_.size() : 0);
    if (!table.empty())
        lines_of(0, size(), table.data());
    return table;
}

std::vector<std::int32_t> CodeBuffer::take_lines() {
    std::vector<std::int32_t> table = lines();
    starts_.clear();
    runs_.clear();
    return table;
}

void CodeBuffer::put_u32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    put(bytes, 4);
}

// A name is longer than the other operands: one resize writes its zeros, one copy its bytes.
void CodeBuffer::put_name(std::string_view name) {
    const size_t end = name.find('\0');
    if (end != std::string_view::npos)
        name = name.substr(0, end);
    const size_t at = code_.size();
    code_.resize(at + name.size() + (name.size() < 4 ? 5 - name.size() : 1));
    std::memcpy(code_.data() + at, name.data(), name.size());
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
    if (value > limit || value < 0)
        throw GeneratorError(info.limit_message);
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8)};
    put(bytes, info.operand == OperandKind::u16 ? 2 : 1);
    return position;
}

std::uint32_t CodeBuffer::write_offset(Opcode opcode, std::int32_t offset, std::int32_t line) {
    assert(opcode_info(opcode).operand == OperandKind::offset);
    const std::uint32_t position = begin(opcode, line);
    put_u32(static_cast<std::uint32_t>(offset));
    offset_positions_.push_back(position);
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

std::uint32_t CodeBuffer::write_function(std::int32_t offset, std::string_view name,
                                         std::int32_t line) {
    const std::uint32_t position = begin(Opcode::function, line);
    put_u32(static_cast<std::uint32_t>(offset));
    put_name(name);
    return position;
}

void CodeBuffer::reserve(size_t bytes) {
    code_.reserve(bytes);
}

void CodeBuffer::patch_count(std::uint32_t position, Opcode opcode, std::uint32_t value) {
    assert(position + 2 <= code_.size());
    code_[position] = static_cast<std::uint8_t>(opcode);
    code_[position + 1] = static_cast<std::uint8_t>(value);
    if (opcode_info(opcode).operand == OperandKind::u16)
        code_[position + 2] = static_cast<std::uint8_t>(value >> 8);
}

// The other buffer is the larger: the few bytes here go in front of its storage, which its
// growth has mostly left room for, rather than a second copy of it being made.
void CodeBuffer::append_moved(CodeBuffer& other) {
    const std::uint32_t shift = size();
    other.code_.insert(other.code_.begin(), code_.begin(), code_.end());
    code_ = std::move(other.code_);
    if (record_lines_ && other.record_lines_) {
        starts_.resize((code_.size() + 63) / 64 + 1, 0);
        const size_t words = shift / 64;
        const unsigned bits = shift % 64;
        for (size_t word = 0; word < other.starts_.size(); ++word) {
            const std::uint64_t from = other.starts_[word];
            starts_[word + words] |= from << bits;
            if (bits != 0)
                starts_[word + words + 1] |= from >> (64 - bits);
        }
        runs_.reserve(runs_.size() + other.runs_.size());
        for (const LineRun& run : other.runs_) {
            if (runs_.empty() || runs_.back().line != run.line)
                runs_.push_back(LineRun{run.position + shift, run.line});
        }
    }
    for (const std::uint32_t position : other.offset_positions_) {
        const std::uint32_t at = position + shift;
        std::uint32_t offset = 0;
        for (int i = 0; i < 4; ++i)
            offset |= static_cast<std::uint32_t>(code_[at + 1 + i]) << (8 * i);
        // Not known: a failed parse's branch, kept as it is.
        if (offset != 0xffffffffu)
            patch_offset(at, offset + shift);
        offset_positions_.push_back(at);
    }
    other = CodeBuffer(other.record_lines_);
}

void CodeBuffer::patch_offset(std::uint32_t position, std::uint32_t offset) {
    assert(position + 5 <= code_.size());
    for (int i = 0; i < 4; ++i)
        code_[position + 1 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
}

}  // namespace kam::script
