// Tokenising rules of the script language.
#include "script/scanner.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

#include "script/script_error.h"

namespace kam::script {

namespace {

constexpr std::array<std::pair<std::string_view, std::int32_t>, 19> keywords = {{
    {"and", token::kw_and},
    {"boolean", token::kw_boolean},
    {"class", token::kw_class},
    {"else", token::kw_else},
    {"false", token::boolean_literal},
    {"for", token::kw_for},
    {"if", token::kw_if},
    {"import", token::kw_import},
    {"in", token::kw_in},
    {"not", token::kw_not},
    {"number", token::kw_number},
    {"object", token::kw_object},
    {"or", token::kw_or},
    {"return", token::kw_return},
    {"string", token::kw_string},
    {"this", token::kw_this},
    {"true", token::boolean_literal},
    {"void", token::kw_void},
    {"while", token::kw_while},
}};

bool is_letter(std::int32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(std::int32_t c) { return c >= '0' && c <= '9'; }

}  // namespace

std::int32_t keyword_kind(std::string_view spelling) {
    const auto found = std::lower_bound(keywords.begin(), keywords.end(), spelling,
                                        [](const auto& entry, std::string_view key) { return entry.first < key; });
    return found != keywords.end() && found->first == spelling ? found->second : token::identifier;
}

std::string Scanner::name() const { return std::string(); }

void Scanner::advance() { lookahead_ = next_token(); }

Token Scanner::peek() {
    if (lookahead_.kind < 0) advance();
    return lookahead_;
}

void Scanner::fail(const std::string& text) const {
    const std::string source = name();
    if (line_ > 0) {
        throw ScannerError(source + "(" + std::to_string(line_) + "): " + text);
    }
    throw ScannerError(text);
}

// Pairs are read two characters at a time, so "**/" consumes "**" and does not close.
void Scanner::skip_block_comment() {
    int depth = 1;
    while (depth > 0) {
        const std::int32_t c = get();
        if (c == 0) fail("Unexpected end of file - */ expected");
        if (c != '/' && c != '*') continue;
        const std::int32_t d = get();
        if (d == 0) fail("Unexpected end of file - */ expected");
        if (c == '/' && d == '*') ++depth;
        if (c == '*' && d == '/') --depth;
    }
}

void Scanner::scan_triple_quoted(std::string& text) {
    int quotes = 0;
    for (;;) {
        const std::int32_t c = get();
        if (c == 0) fail("Unexpected end of file - \"\"\" expected");
        if (c == '"') {
            if (++quotes == 3) return;
            continue;
        }
        text.append(static_cast<size_t>(quotes), '"');
        quotes = 0;
        text += static_cast<char>(c);
    }
}

void Scanner::scan_quoted(std::int32_t quote, std::string& text) {
    for (;;) {
        std::int32_t c = get();
        if (c == quote) return;
        // A backslash before a line break or the end escapes nothing: the string is unterminated.
        const bool escaped = c == '\\';
        if (escaped) c = get();
        if (c == '\n') fail("Can't have strings over multiple lines \" expected");
        if (c == 0) fail("Unexpected end of file - \" expected");
        if (escaped) {
            if (c == 'n') {
                c = '\n';
            } else if (c == 'r') {
                c = '\r';
            } else if (c == 't') {
                c = '\t';
            } else if (c != '\\' && c != quote) {
                fail(std::string("Unrecognized escape sequence \"\\") + static_cast<char>(c) + "\"");
            }
        }
        text += static_cast<char>(c);
    }
}

std::int32_t Scanner::scan_operator(Token& token, std::initializer_list<std::pair<char, std::int32_t>> pairs,
                                    std::int32_t single) {
    const std::int32_t c = get();
    for (const auto& [second, kind] : pairs) {
        if (c == second) {
            token.text += second;
            return kind;
        }
    }
    unget(c);
    return single;
}

Token Scanner::next_token() {
    Token token;
    std::int32_t c;
    for (;;) {
        do {
            c = get();
        } while (c == '\t' || c == '\n' || c == ' ');
        if (c != '/') break;
        const std::int32_t d = get();
        if (d == '/') {
            do {
                c = get();
            } while (c != '\n' && c != 0);
            if (c == 0) break;
        } else if (d == '*') {
            skip_block_comment();
        } else {
            unget(d);
            break;
        }
    }
    token.line = line_;
    token.column = column_;
    if (c == 0) {
        token.kind = token::end;
        return token;
    }

    if (is_letter(c)) {
        do {
            token.text += static_cast<char>(c);
            c = get();
        } while (is_letter(c) || is_digit(c));
        unget(c);
        token.kind = keyword_kind(token.text);
        return token;
    }
    if (is_digit(c)) {
        do {
            token.text += static_cast<char>(c);
            c = get();
        } while (is_digit(c));
        if (c == '.') {
            do {
                token.text += static_cast<char>(c);
                c = get();
            } while (is_digit(c));
        }
        unget(c);
        token.kind = token::number_literal;
        return token;
    }
    if (c == '"' || c == '\'') {
        token.kind = token::string_literal;
        const std::int32_t d = get();
        if (d != c) {
            unget(d);
            scan_quoted(c, token.text);
        } else if (c == '"') {
            const std::int32_t e = get();
            if (e == '"') {
                scan_triple_quoted(token.text);
            } else {
                unget(e);
            }
        }
        return token;
    }
    token.text = static_cast<char>(c);
    switch (c) {
        case '%':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case '-':
        case '.':
        case '/':
        case ';':
        case '{':
        case '}':
            token.kind = c;
            return token;
        case '=':
            token.kind = token::equal;
            return token;
        case '<':
            token.kind = scan_operator(token, {{'=', token::less_equal}, {'>', token::not_equal}}, token::less);
            return token;
        case '>':
            token.kind = scan_operator(token, {{'=', token::greater_equal}}, token::greater);
            return token;
        case ':':
            token.kind = scan_operator(token, {{'=', token::assign}}, ':');
            return token;
        default:
            fail("Unrecognized token");
    }
}

}  // namespace kam::script
