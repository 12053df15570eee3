// The hand-written byte notation of golden files.
#include "support/golden_bytes.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/trovex_runner.h"

namespace test {

namespace {

void append_token(const std::string& token, std::vector<std::uint8_t>& out) {
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        out.insert(out.end(), token.begin() + 1, token.end() - 1);
        return;
    }
    for (const char* kind : {"u32(", "i32("}) {
        if (token.rfind(kind, 0) == 0 && token.back() == ')') {
            const auto value =
                static_cast<std::uint32_t>(std::stoll(token.substr(4, token.size() - 5)));
            for (int shift = 0; shift < 32; shift += 8)
                out.push_back(static_cast<std::uint8_t>(value >> shift));
            return;
        }
    }
    if (token.size() % 2 != 0 ||
        token.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw std::invalid_argument("not a golden byte token: " + token);
    }
    for (size_t i = 0; i < token.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(token.substr(i, 2), nullptr, 16)));
}

}  // namespace

std::vector<std::uint8_t> golden_bytes(const std::string& notation) {
    std::vector<std::uint8_t> bytes;
    std::istringstream lines(notation);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream tokens(line.substr(0, line.find('#')));
        std::string token;
        while (tokens >> token) {
            size_t count = 1;
            const size_t star = token.rfind('*');
            if (star != std::string::npos && token.back() != '"') {
                count = std::stoul(token.substr(star + 1));
                token.resize(star);
            }
            for (size_t i = 0; i < count; ++i)
                append_token(token, bytes);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> golden_file(const std::string& relative) {
    const auto path = std::filesystem::path(TROVEX_SOURCE_DIR) / "tests" / relative;
    if (!std::filesystem::is_regular_file(path))
        throw std::invalid_argument("no golden file " + relative);
    return golden_bytes(read_file(path));
}

}  // namespace test
