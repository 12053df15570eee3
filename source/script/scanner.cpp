// Tokenising rules of the script language.
#include "script/scanner.h"

#include <array>
#include <initializer_list>
#include <utility>

#include "script/script_error.h"

namespace kam::script {

namespace {

struct Keyword {
    std::string_view spelling;
    std::int32_t kind;
};

// Grouped by first letter: an identifier is compared with the few keywords of its letter only.
constexpr std::array<Keyword, 19> keywords = {{
    {"and", token::kw_and},     {"boolean", token::kw_boolean},    {"class", token::kw_class},
    {"else", token::kw_else},   {"false", token::boolean_literal}, {"for", token::kw_for},
    {"if", token::kw_if},       {"import", token::kw_import},      {"in", token::kw_in},
    {"not", token::kw_not},     {"number", token::kw_number},      {"object", token::kw_object},
    {"or", token::kw_or},       {"return", token::kw_return},      {"string", token::kw_string},
    {"this", token::kw_this},   {"true", token::boolean_literal},  {"void", token::kw_void},
    {"while", token::kw_while},
}};

struct LetterRange {
    std::uint8_t first = 0;
    std::uint8_t count = 0;
};

constexpr std::array<LetterRange, 26> make_letter_ranges() {
    std::array<LetterRange, 26> ranges{};
    for (size_t i = 0; i < keywords.size(); ++i) {
        LetterRange& range = ranges[static_cast<size_t>(keywords[i].spelling[0] - 'a')];
        if (range.count == 0)
            range.first = static_cast<std::uint8_t>(i);
        ++range.count;
    }
    return ranges;
}

constexpr std::array<LetterRange, 26> letter_ranges = make_letter_ranges();

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
    // Keywords are 2 to 7 letters long: most names are longer and are told apart here.
    if (spelling.size() < 2 || spelling.size() > 7 || spelling[0] < 'a' || spelling[0] > 'z')
        return token::identifier;
    const LetterRange range = letter_ranges[static_cast<size_t>(spelling[0] - 'a')];
    for (size_t i = range.first; i < size_t{range.first} + range.count; ++i) {
        if (keywords[i].spelling == spelling)
            return keywords[i].kind;
    }
    return token::identifier;
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

// Indentation is most of a source's characters: skip it inside the supplied bytes at once.
void Scanner::skip_blanks() {
    if (!pushed_.empty())
        return;
    const char* p = cursor_;
    for (; p != limit_; ++p) {
        if (*p == ' ' || *p == '\t') {
            ++column_;
        } else if (*p == '\n') {
            ++line_;
            column_ = 0;
        } else {
            break;
        }
    }
    cursor_ = p;
}

// Appends c and the characters after it that are in the classes; returns the first that is not,
// left unread. Runs inside the supplied bytes are taken at once: they hold no line break, so only
// the column moves, and the character after them stays where it is, for skip_blanks.
std::int32_t Scanner::take_run(std::string& text, std::int32_t c, std::uint8_t wanted) {
    text += static_cast<char>(c);
    for (;;) {
        if (pushed_.empty()) {
            const char* end = cursor_;
            while (end != limit_ && (classes[static_cast<unsigned char>(*end)] & wanted) != 0)
                ++end;
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

std::int32_t Scanner::scan_operator(std::string& text,
                                    std::initializer_list<std::pair<char, std::int32_t>> pairs,
                                    std::int32_t single) {
    const std::int32_t c = get();
    for (const auto& [second, kind] : pairs) {
        if (c == second) {
            text += second;
            return kind;
        }
    }
    unget(c);
    return single;
}

void Scanner::scan(Token& token, std::string& text) {
    text.clear();
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
            return;
        case '=':
            token.kind = token::equal;
            return;
        case '<':
            token.kind = scan_operator(text, {{'=', token::less_equal}, {'>', token::not_equal}},
                                       token::less);
            return;
        case '>':
            token.kind = scan_operator(text, {{'=', token::greater_equal}}, token::greater);
            return;
        case ':':
            token.kind = scan_operator(text, {{'=', token::assign}}, ':');
            return;
        default:
            fail("Unrecognized token");
    }
}

}  // namespace kam::script
