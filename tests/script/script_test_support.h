// Compiles script sources in memory for the script tests.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "script/im_instruction.h"
#include "script/parser.h"
#include "support/trovex_runner.h"

namespace test {

struct CompileResult {
    bool accepted = false;
    int error_count = 0;
    std::string errors;
    std::string listing;
};

// A file of tests/script/data.
inline std::string read_data(const std::string& name) {
    return read_file(std::filesystem::path(TROVEX_SOURCE_DIR) / "tests/script/data" / name);
}

inline CompileResult compile_script(const std::string& source, const std::string& name = "t.ksf") {
    kam::script::StringScanner scanner(source, name);
    kam::script::Parser parser(scanner);
    CompileResult result;
    result.accepted = parser.parse();
    result.error_count = parser.error_count();
    result.errors = parser.error_text();
    std::ostringstream listing;
    parser.print(listing);
    result.listing = listing.str();
    return result;
}

// The code of every instruction in order, without declaration records.
inline std::vector<std::uint8_t> emit_all(kam::script::Parser& parser) {
    kam::script::CodeBuffer code;
    for (std::int32_t i = 0; i < parser.instruction_count(); ++i)
        parser.instruction(i).emit(code, parser, i);
    return code.code();
}

}  // namespace test
