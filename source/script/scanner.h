// The script scanner: turns the characters of one source into tokens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/script_error.h"

namespace kam::script {

// Token kinds. Single characters use their own code; the grammar declares the same numbers.
namespace token {
enum : std::int32_t {
    end = 0,
    identifier = 258,
    string_literal = 259,
    number_literal = 260,
    kw_void = 261,
    boolean_literal = 262,  // "true" and "false"; the text tells them apart
    kw_class = 263,
    kw_object = 264,
    kw_number = 265,
    kw_string = 266,
    kw_boolean = 267,
    kw_this = 268,
    not_equal = 269,  // <>
    equal = 270,      // =
    less = 271,
    less_equal = 272,
    greater_equal = 273,
    greater = 274,
    kw_and = 275,
    kw_or = 276,
    kw_not = 277,
    assign = 278,  // :=
    kw_if = 279,
    kw_else = 280,
    kw_import = 281,
    kw_return = 282,
    kw_while = 283,
    kw_for = 284,
    kw_in = 285,
    scanner_failure = 286,  // stands in for what the scanner rejected; made by the parser
};
}  // namespace token

struct Token {
    std::int32_t kind = -1;
    std::string text;  // for strings the decoded value without quotes
    std::int32_t line = 0;
    std::int32_t column = 0;
};

// The kind of a keyword spelling, or token::identifier. Case-sensitive.
std::int32_t keyword_kind(std::string_view spelling);
// The text of a token whose kind alone tells it: keywords, operators, punctuation; else empty.
std::string_view token_spelling(std::int32_t kind);

// Owns the tokenising rules; a subclass supplies the characters.
class Scanner {
public:
    Scanner() = default;
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;
    virtual ~Scanner() = default;

    // The source's name for messages; empty by default.
    virtual std::string name() const;
    // The next character as an unsigned byte value, 10 at the end of each line, 0 at the end.
    virtual std::int32_t read_char() = 0;

    // Scans one token. Throws ScannerError; the next call goes on after the offending character.
    Token next_token();
    // Replaces the lookahead token by the next one; after a failure there is none.
    void advance();
    // The same, with the token's text put into text instead of the lookahead's: a caller that
    // keeps texts scans straight into the place it keeps them in.
    void advance(std::string& text) {
        try {
            scan(lookahead_, text);
        } catch (const ScannerError&) {
            lookahead_.kind = -1;
            throw;
        }
    }
    // The lookahead token, scanning it first when there is none.
    Token peek();
    const Token& lookahead() const { return lookahead_; }

    std::int32_t line() const { return line_; }
    std::int32_t column() const { return column_; }

protected:
    // Hands characters over in bulk: they are read from here, as read_char would return them,
    // before read_char is called again. The bytes must stay valid until they are used up.
    void supply(const char* begin, const char* end) {
        cursor_ = begin;
        limit_ = end;
    }

private:
    std::int32_t get() {
        if (!pushed_.empty()) {
            const std::int32_t c = pushed_.back();
            pushed_.pop_back();
            return c;
        }
        // The common path reads the supplied bytes without a virtual call.
        const std::int32_t c =
            cursor_ != limit_ ? static_cast<unsigned char>(*cursor_++) : read_char();
        if (c == '\n') {
            ++line_;
            column_ = 0;
        } else {
            ++column_;
        }
        return c;
    }
    void unget(std::int32_t c) { pushed_.push_back(c); }

    void scan(Token& token, std::string& text);
    [[gnu::always_inline]] inline bool scan_in_place(Token& token, std::string& text);
    [[gnu::noinline]] void scan_general(Token& token, std::string& text);
    void skip_blanks();
    // The first byte from p on that is not in the classes, or the end of the supplied bytes.
    const char* run_end(const char* p, std::uint8_t wanted) const;
    std::int32_t take_run(std::string& text, std::int32_t c, std::uint8_t wanted);
    [[noreturn]] void fail(const std::string& text) const;
    void skip_block_comment();
    void scan_quoted(std::int32_t quote, std::string& text);
    void scan_triple_quoted(std::string& text);

    Token lookahead_;
    // Apart, so that a token's place is not read in one load over the separate stores that have
    // just moved them: that load waits for the stores to finish, once per token.
    std::int32_t line_ = 1;
    std::vector<std::int32_t> pushed_;
    std::int32_t column_ = 0;
    const char* cursor_ = nullptr;
    const char* limit_ = nullptr;
};

// Reads the characters of a string as they stand, then 0.
class StringScanner : public Scanner {
public:
    explicit StringScanner(std::string text, std::string name = std::string())
        : text_(std::move(text)), name_(std::move(name)) {
        supply(text_.data(), text_.data() + text_.size());
    }

    std::string name() const override { return name_; }
    // Every byte is supplied at once; only the end is left.
    std::int32_t read_char() override { return 0; }

private:
    std::string text_;
    std::string name_;
};

}  // namespace kam::script
