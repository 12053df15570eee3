// The bytecode buffer with its per-byte source-line table.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "script/opcodes.h"

namespace kam::script {

// Grows as records and instructions are written. Every write takes the source line of its first
// byte; the line table holds -1 for the other bytes. Positions returned are opcode positions.
class CodeBuffer {
public:
    explicit CodeBuffer(bool record_lines = true) : record_lines_(record_lines) {}

    bool records_lines() const { return record_lines_; }
    bool generated() const { return generated_; }
    void mark_generated() { generated_ = true; }

    // An opcode without operand.
    std::uint32_t write(Opcode opcode, std::int32_t line);
    // A u8 or u16 operand. Throws GeneratorError with the table's message above the limit;
    // the opcode byte is written by then.
    std::uint32_t write_count(Opcode opcode, std::int64_t value, std::int32_t line);
    // A code offset; -1 (not known yet) is written as 0xffffffff, to be patched.
    std::uint32_t write_offset(Opcode opcode, std::int32_t offset, std::int32_t line);
    std::uint32_t write_number(float value, std::int32_t line);
    std::uint32_t write_name(Opcode opcode, std::string_view name, std::int32_t line);
    std::uint32_t write_function(std::int32_t offset, std::string_view name, std::int32_t line);

    // Room for this many bytes without growing.
    void reserve(size_t bytes);

    // Stores the offset into the u32 right after the opcode at the position.
    void patch_offset(std::uint32_t position, std::uint32_t offset);
    // Replaces the opcode and the count at the position; both have the size written there.
    void patch_count(std::uint32_t position, Opcode opcode, std::uint32_t value);
    // Appends the other buffer's code and lines; its code offsets, counted from its start, are
    // moved by this buffer's size. The other buffer is left empty.
    void append_moved(CodeBuffer& other);

    std::uint32_t size() const { return static_cast<std::uint32_t>(code_.size()); }
    const std::vector<std::uint8_t>& code() const { return code_; }
    // The line table, one line per code byte; empty when lines are not recorded.
    std::vector<std::int32_t> lines() const;
    // The table's lines of the count code bytes from first on, which must be within the code.
    void lines_of(std::uint32_t first, std::uint32_t count, std::int32_t* out) const;
    // Hand the code and the line table over, leaving the buffer empty. The table is made from the
    // code: take it first.
    std::vector<std::uint8_t> take_code() { return std::move(code_); }
    std::vector<std::int32_t> take_lines();

private:
    std::uint32_t begin(Opcode opcode, std::int32_t line);
    void put(const std::uint8_t* bytes, size_t count);
    void put_u32(std::uint32_t value);
    void put_name(std::string_view name);

    bool record_lines_;
    bool generated_ = false;
    std::vector<std::uint8_t> code_;
    // The table is four bytes per code byte, mostly -1, and a line has ten opcodes or so: kept
    // as a bit per code byte that starts an opcode and the line from each opcode where it changes.
    struct LineRun {
        std::uint32_t position;
        std::int32_t line;
    };
    std::vector<std::uint64_t> starts_;
    std::vector<LineRun> runs_;
    // Where the code offsets are, for append_moved.
    std::vector<std::uint32_t> offset_positions_;
};

// Called for every opcode: inline, the call cost as much as the work.
[[gnu::always_inline]] inline std::uint32_t CodeBuffer::begin(Opcode opcode, std::int32_t line) {
    const std::uint32_t position = size();
    code_.push_back(static_cast<std::uint8_t>(opcode));
    if (record_lines_) {
        if (position / 64 >= starts_.size())
            starts_.resize(position / 64 + 1, 0);
        starts_[position / 64] |= std::uint64_t{1} << (position % 64);
        if (runs_.empty() || runs_.back().line != line)
            runs_.push_back(LineRun{position, line});
    }
    return position;
}

// Operands are a few bytes: plain appends beat the general insert.
inline void CodeBuffer::put(const std::uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        code_.push_back(bytes[i]);
}

}  // namespace kam::script
