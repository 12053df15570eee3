// Tokenising rules of the script language.
#include "script/scanner.h"

#include <array>
#include <cstring>
#include <utility>

#include "script/script_error.h"

namespace kam::script {

namespace {

struct Keyword {
    std::string_view spelling;
    std::int32_t kind;
};

constexpr std::array<Keyword, 19> keywords = {{
    {"and", token::kw_and},     {"boolean", token::kw_boolean},    {"class", token::kw_class},
    {"else", token::kw_else},   {"false", token::boolean_literal}, {"for", token::kw_for},
    {"if", token::kw_if},       {"import", token::kw_import},      {"in", token::kw_in},
    {"not", token::kw_not},     {"number", token::kw_number},      {"object", token::kw_object},
    {"or", token::kw_or},       {"return", token::kw_return},      {"string", token::kw_string},
    {"this", token::kw_this},   {"true", token::boolean_literal},  {"void", token::kw_void},
    {"while", token::kw_while},
}};

// A name's first and last letters and its length tell the keywords apart: one comparison at most.
constexpr size_t keyword_hash(std::string_view spelling) {
    return (static_cast<unsigned char>(spelling.front()) * 5u +
            static_cast<unsigned char>(spelling.back()) * 7u + spelling.size() * 2u) %
           32u;
}

constexpr std::array<std::int8_t, 32> make_keyword_slots() {
    std::array<std::int8_t, 32> slots{};
    slots.fill(-1);
    for (size_t i = 0; i < keywords.size(); ++i) {
        std::int8_t& slot = slots[keyword_hash(keywords[i].spelling)];
        if (slot >= 0)
            throw "two keywords share a slot";  // fails the build
        slot = static_cast<std::int8_t>(i);
    }
    return slots;
}

constexpr std::array<std::int8_t, 32> keyword_slots = make_keyword_slots();

// Inlined where names are scanned; keyword_kind is the same for other callers.
[[gnu::always_inline]] inline std::int32_t find_keyword(std::string_view spelling) {
    // Keywords are 2 to 7 letters long: most names are longer and are told apart here.
    if (spelling.size() < 2 || spelling.size() > 7)
        return token::identifier;
    const std::int8_t slot = keyword_slots[keyword_hash(spelling)];
    return slot >= 0 && keywords[static_cast<size_t>(slot)].spelling == spelling
               ? keywords[static_cast<size_t>(slot)].kind
               : token::identifier;
}

// The kind of the token a character starts when it stands alone; 0 when it starts no token of
// its own. '<', '>' and ':' may start a pair instead.
constexpr std::array<std::int32_t, 256> make_single_kinds() {
    std::array<std::int32_t, 256> kinds{};
    for (const char c : std::string_view("%(),*+-./:;{}"))
        kinds[static_cast<unsigned char>(c)] = c;
    kinds['='] = token::equal;
    kinds['<'] = token::less;
    kinds['>'] = token::greater;
    return kinds;
}

constexpr std::array<std::int32_t, 256> single_kinds = make_single_kinds();

bool starts_pair(std::int32_t c) {
    return c == '<' || c == '>' || c == ':';
}

// The kind of the pair c and next make, or 0.
std::int32_t pair_kind(std::int32_t c, std::int32_t next) {
    if (next == '=')
        return c == '<' ? token::less_equal : c == '>' ? token::greater_equal : token::assign;
    return c == '<' && next == '>' ? token::not_equal : 0;
}

enum : std::uint8_t { letter = 1, digit = 2 };

constexpr std::array<std::uint8_t, 256> make_classes() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 'a'; c <= 'z'; ++c)
        classes[static_cast<size_t>(c)] = letter;
    for (int c = 'A'; c <= 'Z'; ++c)
        classes[static_cast<size_t>(c)] = letter;
    classes['_'] = letter;
    for (int c = '0'; c <= '9'; ++c)
        classes[static_cast<size_t>(c)] = digit;
    return classes;
}

constexpr std::array<std::uint8_t, 256> classes = make_classes();

// Character 0 (end of input) and anything read back from the stack are within 0..255.
bool is_letter(std::int32_t c) {
    return (classes[static_cast<std::uint8_t>(c)] & letter) != 0;
}
bool is_digit(std::int32_t c) {
    return (classes[static_cast<std::uint8_t>(c)] & digit) != 0;
}

}  // namespace

std::int32_t keyword_kind(std::string_view spelling) {
    return find_keyword(spelling);
}

std::string_view token_spelling(std::int32_t kind) {
    for (const Keyword& keyword : keywords) {
        if (keyword.kind == kind && kind != token::boolean_literal)
            return keyword.spelling;
    }
    switch (kind) {
        case token::not_equal:
            return "<>";
        case token::equal:
            return "=";
        case token::less:
            return "<";
        case token::less_equal:
            return "<=";
        case token::greater_equal:
            return ">=";
        case token::greater:
            return ">";
        case token::assign:
            return ":=";
    }
    static constexpr std::string_view singles = "%(),*+-./:;{}";
    const size_t at =
        kind > 0 && kind < 128 ? singles.find(static_cast<char>(kind)) : std::string_view::npos;
    return at == std::string_view::npos ? std::string_view() : singles.substr(at, 1);
}

std::string Scanner::name() const {
    return std::string();
}

void Scanner::advance() {
    advance(lookahead_.text);
}

Token Scanner::next_token() {
    Token token;
    scan(token, token.text);
    return token;
}

// Indentation is most of a source's characters: skip it inside the supplied bytes at once. The
// place is counted in locals: a store through a char pointer might change a member.
void Scanner::skip_blanks() {
    if (!pushed_.empty())
        return;
    const char* p = cursor_;
    std::int32_t line = line_;
    std::int32_t column = column_;
    for (; p != limit_; ++p) {
        if (*p == ' ' || *p == '\t') {
            ++column;
        } else if (*p == '\n') {
            ++line;
            column = 0;
            // Indentation is spaces: a word of them at a time.
            constexpr std::uint64_t spaces = 0x2020202020202020;
            std::uint64_t word;
            while (limit_ - p > 8 && (std::memcpy(&word, p + 1, 8), word == spaces)) {
                p += 8;
                column += 8;
            }
        } else {
            break;
        }
    }
    cursor_ = p;
    line_ = line;
    column_ = column;
}

const char* Scanner::run_end(const char* p, std::uint8_t wanted) const {
    while (p != limit_ && (classes[static_cast<unsigned char>(*p)] & wanted) != 0)
        ++p;
    return p;
}

// Most tokens are names, numbers and operators that end inside the supplied bytes: they are read
// from there without get, and the text is copied once. Anything else, and a token that may go on
// past the supplied bytes, is left to the general path, which starts at the same place.
bool Scanner::scan_in_place(Token& token, std::string& text) {
    skip_blanks();
    if (!pushed_.empty() || cursor_ == limit_)
        return false;
    const char* const begin = cursor_;
    const auto c = static_cast<unsigned char>(*begin);
    const char* end = begin + 1;
    std::int32_t kind;
    if ((classes[c] & letter) != 0) {
        end = run_end(end, letter | digit);
        if (end == limit_)
            return false;
        text.append(begin, static_cast<size_t>(end - begin));
        kind = find_keyword(text);
    } else if ((classes[c] & digit) != 0) {
        end = run_end(end, digit);
        if (end != limit_ && *end == '.')
            end = run_end(end + 1, digit);
        if (end == limit_)
            return false;
        text.append(begin, static_cast<size_t>(end - begin));
        kind = token::number_literal;
    } else {
        kind = single_kinds[c];
        // A slash may start a comment; strings, the end and what is rejected are left too.
        if (kind == 0 || c == '/')
            return false;
        if (starts_pair(c)) {
            // The second character of a pair may come after the supplied bytes.
            if (end == limit_)
                return false;
            if (const std::int32_t pair = pair_kind(c, *end); pair != 0) {
                kind = pair;
                ++end;
            }
        }
        text.append(begin, static_cast<size_t>(end - begin));
    }
    token.kind = kind;
    token.line = line_;
    token.column = column_ + 1;
    column_ += static_cast<std::int32_t>(end - begin);
    cursor_ = end;
    return true;
}

// Appends c and the characters after it that are in the classes; returns the first that is not,
// left unread. Runs inside the supplied bytes are taken at once: they hold no line break, so only
// the column moves, and the character after them stays where it is, for skip_blanks.
std::int32_t Scanner::take_run(std::string& text, std::int32_t c, std::uint8_t wanted) {
    text += static_cast<char>(c);
    for (;;) {
        if (pushed_.empty()) {
            const char* end = run_end(cursor_, wanted);
            // With a length, not a pointer pair: that form goes through the slower replace().
            text.append(cursor_, static_cast<size_t>(end - cursor_));
            column_ += static_cast<std::int32_t>(end - cursor_);
            cursor_ = end;
            if (end != limit_)
                return static_cast<unsigned char>(*end);
        }
        c = get();
        if ((classes[static_cast<std::uint8_t>(c)] & wanted) == 0) {
            unget(c);
            return c;
        }
        text += static_cast<char>(c);
    }
}

Token Scanner::peek() {
    if (lookahead_.kind < 0)
        advance();
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
        if (c == 0)
            fail("Unexpected end of file - */ expected");
        if (c != '/' && c != '*')
            continue;
        const std::int32_t d = get();
        if (d == 0)
            fail("Unexpected end of file - */ expected");
        if (c == '/' && d == '*')
            ++depth;
        if (c == '*' && d == '/')
            --depth;
    }
}

void Scanner::scan_triple_quoted(std::string& text) {
    int quotes = 0;
    for (;;) {
        const std::int32_t c = get();
        if (c == 0)
            fail("Unexpected end of file - \"\"\" expected");
        if (c == '"') {
            if (++quotes == 3)
                return;
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
        if (c == quote)
            return;
        // A backslash before a line break or the end escapes nothing: the string is unterminated.
        const bool escaped = c == '\\';
        if (escaped)
            c = get();
        if (c == '\n')
            fail("Can't have strings over multiple lines \" expected");
        if (c == 0)
            fail("Unexpected end of file - \" expected");
        if (escaped) {
            if (c == 'n') {
                c = '\n';
            } else if (c == 'r') {
                c = '\r';
            } else if (c == 't') {
                c = '\t';
            } else if (c != '\\' && c != quote) {
                fail(std::string("Unrecognized escape sequence \"\\") + static_cast<char>(c) +
                     "\"");
            }
        }
        text += static_cast<char>(c);
    }
}

// The general path apart, so that the common one saves and restores few registers per token.
void Scanner::scan(Token& token, std::string& text) {
    text.clear();
    if (!scan_in_place(token, text))
        scan_general(token, text);
}

void Scanner::scan_general(Token& token, std::string& text) {
    std::int32_t c;
    for (;;) {
        skip_blanks();
        do {
            c = get();
        } while (c == '\t' || c == '\n' || c == ' ');
        if (c != '/')
            break;
        const std::int32_t d = get();
        if (d == '/') {
            do {
                c = get();
            } while (c != '\n' && c != 0);
            if (c == 0)
                break;
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
        return;
    }

    if (is_letter(c)) {
        take_run(text, c, letter | digit);
        token.kind = keyword_kind(text);
        return;
    }
    if (is_digit(c)) {
        if (take_run(text, c, digit) == '.')
            take_run(text, get(), digit);
        token.kind = token::number_literal;
        return;
    }
    if (c == '"' || c == '\'') {
        token.kind = token::string_literal;
        const std::int32_t d = get();
        if (d != c) {
            unget(d);
            scan_quoted(c, text);
        } else if (c == '"') {
            const std::int32_t e = get();
            if (e == '"') {
                scan_triple_quoted(text);
            } else {
                unget(e);
            }
        }
        return;
    }
    text.push_back(static_cast<char>(c));
    token.kind = single_kinds[static_cast<unsigned char>(c)];
    if (token.kind == 0)
        fail("Unrecognized token");
    if (starts_pair(c)) {
        const std::int32_t next = get();
        if (const std::int32_t pair = pair_kind(c, next); pair != 0) {
            text.push_back(static_cast<char>(next));
            token.kind = pair;
        } else {
            unget(next);
        }
    }
}

}  // namespace kam::script
