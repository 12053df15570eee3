// The compiled script file (.kxe): writing it and reading it back with every size checked.
//
// Little-endian, no alignment except the debug section's:
//
//   offset  size  field
//   0       4     magic "KXE" and a zero byte
//   4       4     u32 code size N
//   8       4     u32 offset of the debug section: 16 + N rounded up to a multiple of 4, or 0
//                 when the file has none
//   12      4     reserved, written as 0, never read
//   16      N     the code buffer: declaration records, then the functions' code
//   16 + N        zero bytes up to the debug offset
//   debug   4     u32 debug format, 0
//   +4            the source path, its bytes and one zero byte
//   then    4N    one i32 source line per code byte
//
// A file without debug information ends after the code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/code_buffer.h"
#include "utility/archive.h"

namespace kam::script {

// Source lines by code address, answering only for lines greater than 0. Kept as the line table
// itself, one line per code byte: reading a compiled file then costs one copy, not a map insert
// for every instruction.
class LineMap {
public:
    LineMap() = default;
    explicit LineMap(std::vector<std::int32_t> table) : table_(std::move(table)) {}
    // The line recorded for exactly this address; 0 when there is none.
    std::int32_t find(std::uint32_t address) const {
        return address < table_.size() && table_[address] > 0 ? table_[address] : 0;
    }
    bool empty() const { return table_.empty(); }
    // One line per code byte, lines not above 0 included.
    const std::vector<std::int32_t>& table() const { return table_; }

private:
    std::vector<std::int32_t> table_;
};

// A compiled file that does not hold what its header promises.
class CompiledScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// 16 + code size rounded up to a multiple of 4.
std::uint64_t compiled_debug_offset(std::uint64_t code_size);

// The whole file. The line table must hold one line per code byte when debug information is
// wanted. Throws CompiledScriptError when the code is too large for the format's 32-bit fields.
std::vector<std::uint8_t> compiled_script_image(const std::vector<std::uint8_t>& code,
                                                const std::vector<std::int32_t>& lines,
                                                std::string_view source_path, bool with_debug);

// Writes the image in one piece at the archive's position.
void write_compiled_script(Archive& file, const std::vector<std::uint8_t>& code,
                           const std::vector<std::int32_t>& lines, std::string_view source_path,
                           bool with_debug);

struct CompiledScript {
    std::vector<std::uint8_t> code;
    // From the debug section, when it was read and its format is known.
    bool has_debug = false;
    std::string source_path;
    LineMap lines;
};

enum class CompiledScriptRead { loaded, wrong_magic };

// Writes the file of the code buffer's code and, with debug information, its line table.
void write_compiled_script(Archive& file, const CodeBuffer& code, std::string_view source_path,
                           bool with_debug);

// Reads a compiled file from the archive's start. A file that does not begin with the magic
// answers wrong_magic. A header that promises more code, debug section or lines than the file
// holds throws CompiledScriptError naming the archive and what is wrong; every count is checked
// against the file's size before anything is allocated for it. With read_debug false, or a debug
// format other than 0, the debug section is not read.
CompiledScriptRead read_compiled_script(Archive& file, bool read_debug, CompiledScript& script);

// Checks the file as read_compiled_script does: the same answer, and a CompiledScriptError for
// every file it would refuse (naming the first fault found here). Reads only the header and the
// debug section's path: for callers that need to know a compiled file is sound, not what it holds.
CompiledScriptRead check_compiled_script(Archive& file, bool read_debug);

}  // namespace kam::script
