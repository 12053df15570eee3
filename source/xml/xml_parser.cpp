// The XML text parser: encoding detection, the code-point reader and the element grammar.
//
// The grammar is written against one primitive, "read a code point with comments skipped",
// plus a push-back stack. Running every byte through it costs too much for files of tens of
// megabytes, so the reader also scans its buffer directly wherever that is provably the same:
// only while the push-back stack is empty, and only over bytes whose reading has no effect
// besides moving on (ASCII other than NUL, CR, LF and '<'). Anything else (line ends, '<'
// that may open a comment, multi-byte sequences, pushed-back expansions) takes the one
// primitive, so lines, messages and push-back behave exactly as if it had read everything.
#include "xml/xml_parser.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "xml/xml_document.h"

namespace kam {

namespace detail {
bool xml_fast_paths = true;
}  // namespace detail

namespace {

// Deeper trees would exhaust the stack here and in every recursive walk of the tree. Included
// files count on from the depth of their include, since their parse runs inside it.
constexpr int max_depth = 1000;
thread_local int nesting = 0;

class Nested {
public:
    Nested() { ++nesting; }
    ~Nested() { --nesting; }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;
};
// Expansions re-read as text that keep changing would otherwise loop for ever.
constexpr int max_rereads = 1000;
// The parser looks at most this far past its position without checking the end.
constexpr size_t sentinel_size = xml_parse_padding;

const IdString xi_include = intern("xi:include");
const IdString xinclude_include = intern("xinclude:include");
const IdString name_parameter = intern("name");

enum ByteClass : std::uint16_t {
    SIMPLE = 1 << 0,    // ASCII but NUL, CR, LF, '<': reading it only moves on
    PEEKABLE = 1 << 1,  // ASCII but CR, LF: reading it and putting it back changes nothing
    IDENT_START = 1 << 2,
    IDENT = 1 << 3,
    CONTENT = 1 << 4,   // simple, not '&'
    DQ_VALUE = 1 << 5,  // simple, not '&' or '"'
    SQ_VALUE = 1 << 6,  // simple, not '\''
    UNQUOTED = 1 << 7,  // simple, not blank, tab, '>' or '/'
    ENTITY = 1 << 8,    // simple, not ';'
    CDATA = 1 << 9,     // simple, not ']'
};

struct ByteClasses {
    std::uint16_t of[256] = {};
    constexpr ByteClasses() {
        for (int c = 0; c < 128; ++c) {
            std::uint16_t bits = 0;
            if (c != '\r' && c != '\n')
                bits |= PEEKABLE;
            if (c != 0 && c != '\r' && c != '\n' && c != '<') {
                bits |= SIMPLE;
                if (c != '&')
                    bits |= CONTENT;
                if (c != '&' && c != '"')
                    bits |= DQ_VALUE;
                if (c != '\'')
                    bits |= SQ_VALUE;
                if (c != ' ' && c != '\t' && c != '>' && c != '/')
                    bits |= UNQUOTED;
                if (c != ';')
                    bits |= ENTITY;
                if (c != ']')
                    bits |= CDATA;
            }
            const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
            if (letter)
                bits |= IDENT_START;
            if (letter || (c >= '0' && c <= '9') || c == ':')
                bits |= IDENT;
            of[c] = bits;
        }
    }
};

constexpr ByteClasses byte_classes;

inline std::uint16_t byte_class(unsigned char c) {
    return byte_classes.of[c];
}

// Marks pushed-back code points that text reading takes as they are: text that was decoded
// already, read again only because a define expanded next to it.
constexpr char32_t literal_mark = 0x40000000;
inline bool has_class(char32_t c, std::uint16_t bits) {
    return c < 128 && (byte_classes.of[c] & bits) != 0;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        const char bytes[] = {static_cast<char>(0xC0 | (c >> 6)),
                              static_cast<char>(0x80 | (c & 0x3F))};
        out.append(bytes, 2);
    } else if (c < 0x10000) {
        const char bytes[] = {static_cast<char>(0xE0 | (c >> 12)),
                              static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (c & 0x3F))};
        out.append(bytes, 3);
    } else if (c < 0x200000) {
        const char bytes[] = {
            static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
            static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        out.append(bytes, 4);
    } else {
        // Only four-byte input can be read back; larger UCS-4 values have no place in text.
        out.append("\xEF\xBF\xBD");
    }
}

// What the first four bytes say of a file. Only UTF-8 and 8-bit text are read as they are; the
// others are transcoded to UTF-8 first.
enum class Encoding { utf8, eight_bit, utf16_le, utf16_be, ucs4_le, ucs4_be };

// The encoding of the file, from its first four bytes.
Encoding detect_encoding(std::string_view bytes, const std::string& name) {
    if (bytes.size() < 4)
        throw std::runtime_error("Archive " + name + " empty");
    const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
        return Encoding::utf8;
    if (b(0) == 0xFE && b(1) == 0xFF)
        return Encoding::utf16_be;
    if (b(0) == 0xFF && b(1) == 0xFE)
        return b(2) == 0 && b(3) == 0 ? Encoding::ucs4_le : Encoding::utf16_le;
    if (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF)
        return Encoding::ucs4_be;
    if (b(0) == 0 && b(1) == 0 && b(2) == 0) {
        if (b(3) == 0)
            throw std::runtime_error("Error in archive " + name);
        return Encoding::ucs4_be;
    }
    if (b(0) != 0 && b(1) == 0 && b(2) == 0 && b(3) == 0)
        return Encoding::ucs4_le;
    if (b(0) == 0 && b(1) != 0 && b(2) == 0)
        return Encoding::utf16_be;
    if (b(1) == 0 && b(2) != 0 && b(3) == 0)
        return Encoding::utf16_le;
    if (b(0) == 0x4C && b(1) == 0x6F && b(2) == 0xA7 && b(3) == 0x94) {
        throw std::runtime_error("Error in archive " + name + " EBCDIC not supported");
    }
    return Encoding::eight_bit;
}

// UTF-16 and UCS-4 become UTF-8 up front, decoded unit by unit as the reader would; the
// first code point 0 ends the input, as it ends every parse.
std::string transcode(std::string_view bytes, Encoding encoding) {
    std::string out;
    out.reserve(bytes.size() / 2 + sentinel_size);
    size_t i = 0;
    const auto byte = [&](size_t at) -> char32_t {
        return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0;
    };
    const auto unit16 = [&]() -> char32_t {
        const char32_t value = encoding == Encoding::utf16_le ? byte(i) | byte(i + 1) << 8
                                                              : byte(i) << 8 | byte(i + 1);
        i += 2;
        return value;
    };
    while (i < bytes.size()) {
        char32_t c;
        if (encoding == Encoding::utf16_le || encoding == Encoding::utf16_be) {
            c = unit16();
            if ((c & 0xFC00) == 0xD800)
                c = (((c & 0x3FF) << 10) | (unit16() & 0x3FF)) + 0x10000;
        } else {
            c = encoding == Encoding::ucs4_le
                    ? byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24
                    : byte(i) << 24 | byte(i + 1) << 16 | byte(i + 2) << 8 | byte(i + 3);
            i += 4;
        }
        if (c == 0)
            break;
        append_utf8(out, c);
    }
    return out;
}

// Reads code points from one buffer (UTF-8 or 8-bit) with its push-back stack and line count.
class XMLReader {
public:
    XMLReader(const char* buffer, size_t size, Encoding encoding, const std::string& file)
        : encoding(encoding),
          p_(reinterpret_cast<const unsigned char*>(buffer)),
          end_(p_ + size),
          file_(file),
          fast_(detail::xml_fast_paths) {}

    int line = 1;
    Encoding encoding;  // utf8 or eight_bit

    // What stands before every message: the file and the line.
    std::string where() const { return file_ + " (" + std::to_string(line) + "): "; }
    [[noreturn]] void fail(const std::string& message) const {
        throw XMLParseError(where() + message);
    }

    // One code point with comments skipped; 0 at the end of the input.
    char32_t get() {
        if (in_buffer() && (byte_class(*p_) & SIMPLE))
            return *p_++;
        return get_slow() & ~literal_mark;
    }
    void unget(char32_t c) { pushed_.push_back(c); }
    char32_t peek() {
        if (in_buffer() && reads_back_unchanged())
            return *p_;
        const char32_t c = get();
        unget(c);
        return c;
    }
    void expect(char c) {
        if (get() != static_cast<char32_t>(c))
            fail(std::string("Expected ") + c);
    }

    // Puts text back so that it is read next, in order; outside the changed regions it is
    // marked to be taken literally by text reading.
    void push_text(std::string_view utf8, const XMLDefineList::Regions& changed);

    // Consumes the ASCII text s when the input continues with it; else leaves the input as it was.
    bool continues_with(std::string_view s);

    void skip_whitespace();
    // An identifier; "Expected identifier" when the next code point cannot start one.
    void read_identifier(std::string& out);

    // Appends code points until one in stop (a byte-class mask's complement, tested by
    // is_stop) comes; the stop is left in the input. '&' starts an entity reference when
    // entities is set. "Unexpected end of file" at the end of the input, unless end_stops.
    template <typename IsStop>
    void read_run(std::string& out, std::uint16_t plain, IsStop is_stop, bool entities,
                  bool end_stops = false);

    // Reads an entity name up to ';' and appends its replacement (or itself, when unknown).
    void read_entity(std::string& out);

    std::vector<std::pair<std::string, std::string>> entities;
    bool unknown_entity = false;
    std::string unknown_entity_error;  // where the first one stood, and its name

private:
    bool in_buffer() const { return fast_ && pushed_.empty(); }

    // The byte at the position can be read and put back with no other effect: plain ASCII,
    // or a '<' that opens no comment followed by plain ASCII.
    bool reads_back_unchanged() const {
        const unsigned char b = *p_;
        return b == '<' ? lookahead_is_plain(p_) : (byte_class(b) & PEEKABLE) != 0;
    }
    static bool lookahead_is_plain(const unsigned char* q) {
        if (!(byte_class(q[1]) & PEEKABLE))
            return false;
        if (q[1] != '!')
            return true;
        if (!(byte_class(q[2]) & PEEKABLE))
            return false;
        if (q[2] != '-')
            return true;
        if (!(byte_class(q[3]) & PEEKABLE))
            return false;
        return q[3] != '-';
    }

    char32_t raw() {
        if (!pushed_.empty()) {
            const char32_t c = pushed_.back();
            pushed_.pop_back();
            return c;
        }
        return decode();
    }
    char32_t get_slow();
    char32_t decode();
    // After a '<': skips a comment that follows and reports whether there was one.
    bool skip_comment();
    void skip_comment_body();

    const unsigned char* p_;
    const unsigned char* end_;
    const std::string& file_;
    const bool fast_;
    std::vector<char32_t> pushed_;
};

char32_t XMLReader::get_slow() {
    char32_t c = raw();
    while (c == '<' && skip_comment())
        c = raw();
    return c;
}

char32_t XMLReader::decode() {
    if (p_ >= end_)
        return 0;
    char32_t c = *p_++;
    if (c >= 0x80 && encoding == Encoding::utf8) {
        // Continuation bytes are taken as they come, unchecked; a byte that cannot lead a
        // sequence reads as 0, the end of the input.
        int more;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            c &= 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            c &= 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            c &= 0x07;
        } else {
            return 0;
        }
        while (more-- > 0)
            c = (c << 6) | ((p_ < end_ ? *p_++ : 0) & 0x3F);
    }
    if (c == '\n') {
        ++line;
    } else if (c == '\r') {
        ++line;
        if (p_ < end_ && *p_ == '\n')
            ++p_;
        c = '\n';
    }
    return c;
}

bool XMLReader::skip_comment() {
    if (in_buffer()) {
        if (lookahead_is_plain(p_ - 1))
            return false;
        if (p_[0] == '!' && p_[1] == '-' && p_[2] == '-') {
            p_ += 3;
            skip_comment_body();
            return true;
        }
    }
    const char32_t c1 = raw();
    if (c1 != '!') {
        unget(c1);
        return false;
    }
    const char32_t c2 = raw();
    if (c2 != '-') {
        unget(c2);
        unget(c1);
        return false;
    }
    const char32_t c3 = raw();
    if (c3 != '-') {
        unget(c3);
        unget(c2);
        unget(c1);
        return false;
    }
    skip_comment_body();
    return true;
}

void XMLReader::skip_comment_body() {
    int dashes = 0;
    for (;;) {
        char32_t c;
        if (in_buffer() && *p_ >= 0x20 && *p_ < 0x80) {
            c = *p_++;
        } else {
            c = raw();
        }
        if (c == 0)
            fail("XML parser: expected -->");
        if (c == '-') {
            ++dashes;
        } else if (c == '>' && dashes >= 2) {
            return;
        } else {
            dashes = 0;
        }
    }
}

void XMLReader::push_text(std::string_view utf8, const XMLDefineList::Regions& changed) {
    std::vector<char32_t> code_points;
    auto region = changed.begin();
    for (size_t i = 0; i < utf8.size();) {
        while (region != changed.end() && region->second <= i)
            ++region;
        const bool literal = region == changed.end() || i < region->first;
        const auto lead = static_cast<unsigned char>(utf8[i++]);
        char32_t c = lead;
        int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (more > 0)
            c &= 0x3F >> more;
        for (; more > 0 && i < utf8.size(); --more) {
            c = (c << 6) | (static_cast<unsigned char>(utf8[i++]) & 0x3F);
        }
        code_points.push_back(literal ? c | literal_mark : c);
    }
    pushed_.insert(pushed_.end(), code_points.rbegin(), code_points.rend());
}

bool XMLReader::continues_with(std::string_view s) {
    if (in_buffer()) {
        size_t n = 0;
        while (n < s.size() && p_[n] == static_cast<unsigned char>(s[n]))
            ++n;
        if (n == s.size() && (s[0] != '<' || lookahead_is_plain(p_))) {
            p_ += n;
            return true;
        }
    }
    char32_t read[16];
    size_t n = 0;
    for (char expected : s) {
        const char32_t c = get();
        read[n++] = c;
        if (c != static_cast<unsigned char>(expected)) {
            while (n > 0)
                unget(read[--n]);
            return false;
        }
    }
    return true;
}

void XMLReader::skip_whitespace() {
    for (;;) {
        if (in_buffer()) {
            for (;;) {
                const unsigned char b = *p_;
                if (b == ' ' || b == '\t') {
                    ++p_;
                } else if (b == '\n') {
                    ++line;
                    ++p_;
                } else {
                    break;
                }
            }
            if (reads_back_unchanged())
                return;
        }
        const char32_t c = get();
        if (c != ' ' && c != '\t' && c != '\n') {
            unget(c);
            return;
        }
    }
}

void XMLReader::read_identifier(std::string& out) {
    out.clear();
    const char32_t first = get();
    if (!has_class(first, IDENT_START))
        fail("Expected identifier");
    out += static_cast<char>(first);
    for (;;) {
        if (in_buffer()) {
            const unsigned char* start = p_;
            while (byte_class(*p_) & IDENT)
                ++p_;
            out.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p_ - start));
            if (reads_back_unchanged())
                return;
        }
        const char32_t c = get();
        if (!has_class(c, IDENT)) {
            unget(c);
            return;
        }
        out += static_cast<char>(c);
    }
}

template <typename IsStop>
void XMLReader::read_run(std::string& out, std::uint16_t plain, IsStop is_stop, bool entities,
                         bool end_stops) {
    for (;;) {
        if (in_buffer()) {
            const unsigned char* start = p_;
            for (;;) {
                const unsigned char b = *p_;
                if (byte_class(b) & plain) {
                    ++p_;
                } else if (b == '\n' && !is_stop('\n')) {
                    ++line;
                    ++p_;
                } else if (b >= 0x80 && encoding == Encoding::eight_bit) {
                    out.append(reinterpret_cast<const char*>(start),
                               static_cast<size_t>(p_ - start));
                    append_utf8(out, b);
                    start = ++p_;
                } else {
                    break;
                }
            }
            out.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p_ - start));
            if (is_stop(*p_) && reads_back_unchanged())
                return;
        }
        const char32_t c = in_buffer() && (byte_class(*p_) & SIMPLE) ? *p_++ : get_slow();
        if (c & literal_mark) {
            append_utf8(out, c & ~literal_mark);
            continue;
        }
        if (c == 0 && !end_stops)
            fail("Unexpected end of file");
        if (c == 0 || is_stop(c)) {
            unget(c);
            return;
        }
        if (c == '&' && entities) {
            read_entity(out);
        } else {
            append_utf8(out, c);
        }
    }
}

void XMLReader::read_entity(std::string& out) {
    std::string name;
    read_run(
        name, ENTITY, [](char32_t c) { return c == ';'; }, false);
    get();  // the ';' the run stopped at
    for (const auto& [entity, replacement] : entities) {
        if (entity == name) {
            out += replacement;
            return;
        }
    }
    out.append("&").append(name).append(";");
    if (!unknown_entity)
        unknown_entity_error = where() + "Unknown entity &" + name + ";";
    unknown_entity = true;
}

bool is_whitespace_only(std::string_view text) {
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f')
            return false;
    }
    return true;
}

std::uint32_t short_hash(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// Interning takes the table's lock; names repeat endlessly within one file.
class NameCache {
public:
    IdString intern_name(std::string_view name) {
        Entry& entry = entries_[short_hash(name) % entries_.size()];
        if (entry.id < 0 || entry.name != name) {
            entry.name.assign(name);
            entry.id = intern(name);
        }
        return entry.id;
    }

private:
    struct Entry {
        std::string name;
        IdString id = -1;
    };
    std::array<Entry, 512> entries_;
};

// Parameter values repeat endlessly too (types, flags, file names): a repeat shares the stored
// copy of a recent equal value, which keeps a large file's store a sixth smaller, and lets the
// binary writer see equal values by their address.
class ValueCache {
public:
    std::string_view stored(std::string_view value, XMLNodeStore& store) {
        if (value.empty())
            return {};
        const std::uint32_t hash = short_hash(value);
        // The hash first: values of one length (coordinates, ids) mostly differ.
        Entry& entry = entries_[hash % entries_.size()];
        if (entry.hash != hash || entry.value != value)
            entry = {store.copy(value), hash};
        return entry.value;
    }

private:
    struct Entry {
        std::string_view value;
        std::uint32_t hash = 0;
    };
    std::array<Entry, 4096> entries_{};
};

}  // namespace

// The element grammar over one reader, filling one document.
class XMLParser {
public:
    XMLParser(XMLDocument& document, const char* buffer, size_t size, Encoding encoding,
              Encoding detected, const std::string& file)
        : document_(document),
          reader_(buffer, size, encoding, file),
          detected_(detected),
          file_id_(intern(document.path())),
          store_(XMLNodeStore::create()) {}
    ~XMLParser() {
        // Children of elements left half-read by an error.
        for (XMLNode* node : child_stack_)
            delete node;
        store_->release();
    }

    void parse() {
        prolog();
        document_.fill_entities();
        for (const auto& [id, replacement] : document_.entities()) {
            reader_.entities.emplace_back(string_of(id), replacement);
        }
        if (reader_.peek() == 0)
            reader_.fail("Unexpected end of file");
        XMLNode root(store_);
        parse_element(root);
        document_.root_ = std::move(root);
        document_.unknown_entity = reader_.unknown_entity;
        document_.failure = reader_.unknown_entity_error;
    }

private:
    void prolog();
    void declaration();
    void parse_element(XMLNode& node);
    void read_parameter();
    void read_content(XMLNode& node);
    void read_text(std::string& out, std::uint16_t plain, char32_t stop);
    void make_define(XMLNode& node, bool with_content);
    std::string expand(std::string_view text, std::string* applied = nullptr,
                       XMLDefineList::Regions* changed = nullptr) {
        try {
            return document_.defines().expand(text, applied, changed);
        } catch (const XMLParseError&) {
            throw;
        } catch (const std::runtime_error& error) {
            reader_.fail(error.what());
        }
    }

    XMLDocument& document_;
    XMLReader reader_;
    Encoding detected_;
    IdString file_id_;
    NameCache names_;
    ValueCache values_;
    XMLNodeStore* store_;  // every node of the tree keeps its strings here
    std::string identifier_;
    std::string value_;
    std::string text_;
    std::vector<XMLNode::Parameter> parameters_;  // values already in the store
    std::vector<XMLNode*> child_stack_;
};

void XMLParser::prolog() {
    XMLReader& r = reader_;
    const char32_t bom = r.get();
    if (bom != 0xFEFF)
        r.unget(bom);

    const char32_t open = r.get();
    if (open != '<') {
        r.unget(open);
    } else {
        const char32_t mark = r.get();
        if (mark != '?') {
            r.unget(mark);
            r.unget(open);
        } else {
            char32_t read[3];
            int n = 0;
            for (char expected : {'x', 'm', 'l'}) {
                const char32_t c = r.get();
                read[n++] = c;
                const char32_t lower = c >= 'A' && c <= 'Z' ? c + 32 : c;
                if (lower != static_cast<char32_t>(expected))
                    break;
            }
            const char32_t last = read[n - 1];
            if (n == 3 && (last == 'l' || last == 'L')) {
                declaration();
            } else {
                // A processing instruction: left for the root element to refuse.
                while (n > 0)
                    r.unget(read[--n]);
                r.unget(mark);
                r.unget(open);
            }
        }
    }

    r.skip_whitespace();
    const char32_t c = r.get();
    if (c != '<') {
        r.unget(c);
        return;
    }
    const char32_t bang = r.get();
    if (bang != '!') {
        r.unget(bang);
        r.unget(c);
        return;
    }
    // One document type or similar declaration, skipped whole.
    for (;;) {
        const char32_t d = r.get();
        if (d == '>')
            break;
        if (d == 0) {
            r.unget(d);
            break;
        }
    }
    r.skip_whitespace();
}

void XMLParser::declaration() {
    XMLReader& r = reader_;
    std::string name, value;
    for (;;) {
        r.skip_whitespace();
        char32_t c = r.get();
        if (c == '?')
            c = r.get();
        if (c == '>')
            return;
        if (!has_class(c, IDENT_START))
            r.fail("Expected > or identifier");
        r.unget(c);
        r.read_identifier(name);
        r.skip_whitespace();
        value.clear();
        c = r.get();
        if (c != '=') {
            r.unget(c);
        } else {
            r.skip_whitespace();
            const char32_t quote = r.get();
            if (quote == '"' || quote == '\'') {
                for (;;) {
                    const char32_t v = r.get();
                    if (v == 0)
                        r.fail(quote == '"' ? " Unmatched \"" : " Unmatched '");
                    if (v == quote)
                        break;
                    append_utf8(value, v);
                }
            } else {
                r.unget(quote);
                r.read_run(
                    value, UNQUOTED,
                    [](char32_t v) {
                        return v == ' ' || v == '\t' || v == '\n' || v == '>' || v == '/';
                    },
                    false, true);
            }
        }
        if (name == "encoding" && detected_ == Encoding::eight_bit) {
            if (value == "UTF-8" || value == "utf-8" || value == "Utf-8") {
                r.encoding = Encoding::utf8;
            } else if (value != "ISO-8859-1" && value != "Iso-8859-1" && value != "iso-8859-1") {
                r.fail("Encoding " + value + " not valid");
            }
        }
    }
}

void XMLParser::parse_element(XMLNode& node) {
    const Nested nested;
    XMLReader& r = reader_;
    node.set_file(file_id_);
    r.expect('<');
    if (nesting > max_depth) {
        const std::string message = "Elements nested deeper than " + std::to_string(max_depth);
        throw XMLIncludeError(r.where() + message, message);
    }
    node.set_line(r.line);
    node.set_kind(NODE_ELEMENT);
    node.set_text(std::string());
    r.read_identifier(identifier_);
    const IdString name = names_.intern_name(identifier_);
    node.set_name(name);

    parameters_.clear();
    char32_t c;
    for (;;) {
        r.skip_whitespace();
        c = r.peek();
        if (c == '>' || c == '/' || c == 0)
            break;
        read_parameter();
    }
    if (parameters_.empty()) {
        node.adopt_parameters(nullptr, 0);
    } else {
        auto* list = store_->allocate<XMLNode::Parameter>(parameters_.size());
        std::uninitialized_copy(parameters_.begin(), parameters_.end(), list);
        node.adopt_parameters(list, static_cast<std::uint32_t>(parameters_.size()));
    }
    node.remove_children();
    if (c == 0)
        r.fail("Unexpected end of file");
    if (c == '/') {
        r.expect('/');
        r.expect('>');
        if (name == ids::xdefine)
            make_define(node, false);
        return;
    }
    r.expect('>');
    if (name == ids::xdefine) {
        make_define(node, true);
        return;
    }
    document_.defines().open_scope();
    read_content(node);
    document_.defines().close_scope();
}

void XMLParser::read_parameter() {
    XMLReader& r = reader_;
    r.skip_whitespace();
    r.read_identifier(identifier_);
    const IdString name = names_.intern_name(identifier_);
    r.skip_whitespace();
    std::string& value = value_;
    value.clear();
    const char32_t c = r.get();
    if (c != '=') {
        r.unget(c);
    } else {
        r.skip_whitespace();
        const char32_t quote = r.get();
        if (quote == '"') {
            read_text(value, DQ_VALUE, '"');
            r.expect('"');
        } else if (quote == '\'') {
            r.read_run(
                value, SQ_VALUE, [](char32_t v) { return v == '\''; }, false);
            r.expect('\'');
        } else {
            r.unget(quote);
            // The end of the input ends an unquoted value too; the element then reports it.
            r.read_run(
                value, UNQUOTED,
                [](char32_t v) {
                    return v == ' ' || v == '\n' || v == '\t' || v == '\r' || v == '>' || v == '/';
                },
                false, true);
        }
    }
    if (value.size() > std::numeric_limits<std::uint32_t>::max())
        r.fail("Value longer than 4 GB");
    parameters_.emplace_back(name, values_.stored(value, *store_));
}

void XMLParser::read_text(std::string& out, std::uint16_t plain, char32_t stop) {
    const size_t start = out.size();
    std::string applied;
    XMLDefineList::Regions changed;
    for (int rereads = 0;; ++rereads) {
        reader_.read_run(
            out, plain, [stop](char32_t c) { return c == stop; }, true);
        const std::string_view text = std::string_view(out).substr(start);
        if (text.find('@') == std::string_view::npos)
            return;
        std::string expanded = expand(text, &applied, &changed);
        if (expanded == text)
            return;
        if (rereads == max_rereads)
            reader_.fail("Define " + applied + " expands without end");
        // What the defines wrote is read again, so that entities, markup and references in it
        // take effect; the text around it was decoded once already and stays as it is.
        out.resize(start);
        reader_.push_text(expanded, changed);
    }
}

void XMLParser::read_content(XMLNode& node) {
    XMLReader& r = reader_;
    const size_t first_child = child_stack_.size();
    // Not live across the recursion below: one buffer serves every level.
    std::string& text = text_;
    for (;;) {
        const int text_line = r.line;
        text.clear();
        read_text(text, CONTENT, '<');
        while (r.continues_with("<!")) {
            for (char c : std::string_view("[CDATA["))
                r.expect(c);
            for (;;) {
                r.read_run(
                    text, CDATA, [](char32_t c) { return c == ']'; }, false);
                if (r.continues_with("]]>"))
                    break;
                append_utf8(text, r.get());
            }
            read_text(text, CONTENT, '<');
        }
        if (!is_whitespace_only(text)) {
            XMLNode* child;
            XMLNode::make_nodes(&child, 1, *store_);
            child_stack_.push_back(child);
            child->set_kind(NODE_TEXT);
            child->set_text(text);
            child->set_line(text_line);
            child->set_file(file_id_);
        }
        if (r.continues_with("</")) {
            r.read_identifier(identifier_);
            if (identifier_ != string_of(node.name_id()))
                r.fail("Identifiers must match");
            r.skip_whitespace();
            r.expect('>');
            break;
        }
        XMLNode* child;
        XMLNode::make_nodes(&child, 1, *store_);
        child_stack_.push_back(child);
        parse_element(*child);
        if (xml_resolve_includes &&
            (child->name_id() == xi_include || child->name_id() == xinclude_include)) {
            child_stack_.pop_back();
            const std::unique_ptr<XMLNode> element(child);
            std::vector<std::unique_ptr<XMLNode>> included;
            try {
                included = document_.include(*element);
            } catch (const XMLIncludeError& error) {
                throw XMLIncludeError(r.where() + error.what(), error.cause);
            }
            for (auto& node : included)
                child_stack_.push_back(node.release());
        }
    }
    node.set_children(std::span<XMLNode* const>(child_stack_).subspan(first_child));
    child_stack_.resize(first_child);
}

void XMLParser::make_define(XMLNode& node, bool with_content) {
    auto define = std::make_unique<XMLDefine>();
    define->declare(node.parameter(name_parameter));
    if (with_content) {
        XMLReader& r = reader_;
        for (;;) {
            read_text(define->body, CONTENT, '<');
            if (r.continues_with("</xdefine>"))
                break;
            append_utf8(define->body, r.get());
        }
    } else if (!node.parameter(ids::expression).empty()) {
        define->body = node.parameter(ids::expression);
        define->expression = true;
    } else {
        define->body = node.parameter(ids::value);
    }
    // Expanded before it is visible, so the body cannot name the define itself.
    if (define->body.find('@') != std::string::npos)
        define->body = expand(define->body);
    node.set_kind(NODE_DEFINE);
    node.set_define(*define);
    document_.defines().add(std::move(define));
}

bool parse_xml(XMLDocument& document, LargeBlock bytes, size_t size,
               const std::string& archive_name) {
    const Encoding detected = detect_encoding(std::string_view(bytes.get(), size), archive_name);
    const bool as_is = detected == Encoding::utf8 || detected == Encoding::eight_bit;
    std::string transcoded;
    const char* text = bytes.get();
    if (as_is) {
        std::memset(bytes.get() + size, 0, sentinel_size);
    } else {
        transcoded = transcode(std::string_view(bytes.get(), size), detected);
        bytes.reset();
        size = transcoded.size();
        transcoded.append(sentinel_size, '\0');
        text = transcoded.data();
    }
    const std::string& file = document.path().empty() ? archive_name : document.path();
    // On the heap: includes parse inside parses, and the stack holds only the recursion.
    const auto parser = std::make_unique<XMLParser>(
        document, text, size, as_is ? detected : Encoding::utf8, detected, file);
    parser->parse();
    return !document.unknown_entity;
}

}  // namespace kam
