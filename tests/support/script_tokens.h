// Script tokens as text, and a scanner that is handed its characters in pieces: for comparing
// the scanner's in-place path with its general one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "script/scanner.h"
#include "script/script_error.h"

namespace test {

// Hands the characters over in pieces of the given size, the first of each from read_char and
// the rest supplied; with size 1 every token takes the general path, which the scanner otherwise
// takes only where the supplied bytes end.
class PieceScanner : public kam::script::Scanner {
public:
    PieceScanner(std::string text, size_t piece) : text_(std::move(text)), piece_(piece) {}
    std::int32_t read_char() override {
        if (at_ >= text_.size())
            return 0;
        // A copy: what lies past a piece is not the next one.
        current_ = text_.substr(at_, piece_);
        at_ += current_.size();
        supply(current_.data() + 1, current_.data() + current_.size());
        return static_cast<unsigned char>(current_[0]);
    }

private:
    std::string text_;
    size_t piece_;
    size_t at_ = 0;
    std::string current_;
};

// Every token as kind:text (with line.column when asked), failures as !message, up to the end
// or the limit.
inline std::string scan_all(kam::script::Scanner& scanner, bool positions = false,
                            int limit = 100) {
    std::string out;
    for (int count = 0; count < limit; ++count) {
        if (!out.empty())
            out += ' ';
        try {
            const kam::script::Token token = scanner.next_token();
            if (positions)
                out += std::to_string(token.line) + "." + std::to_string(token.column) + "/";
            if (token.kind == kam::script::token::end)
                return out + "end";
            out += std::to_string(token.kind) + ":" + token.text;
        } catch (const kam::script::ScannerError& error) {
            out += std::string("!") + error.what();
        }
    }
    return out + "(no end)";
}

}  // namespace test
