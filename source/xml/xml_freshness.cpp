// Up-to-date checks of binary XML files for compile-xml -m, and the include scan behind them.
#include "xml/xml_freshness.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "utility/depfile.h"
#include "utility/disk_file_system.h"
#include "utility/encoding.h"
#include "utility/path.h"
#include "xml/xml_document.h"

namespace kam {

namespace {

constexpr std::string_view include_names[] = {"xi:include", "xinclude:include"};

size_t count_names(std::string_view text) {
    size_t count = 0;
    for (std::string_view name : include_names) {
        for (size_t at = text.find(name); at != std::string_view::npos;
             at = text.find(name, at + 1))
            ++count;
    }
    return count;
}

bool is_name_end(std::string_view text, size_t at) {
    return at >= text.size() ||
           !(std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_' ||
             text[at] == ':' || text[at] == '-' || text[at] == '.');
}

// The include name the tag at text[at] ('<' or "</") starts with, or empty.
std::string_view include_tag(std::string_view text, size_t at) {
    for (std::string_view name : include_names) {
        if (text.compare(at, name.size(), name) == 0 && is_name_end(text, at + name.size()))
            return name;
    }
    return {};
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The attributes of the tag whose name ends at at, up to its '>'; at moves past it. False for a
// tag that does not end.
bool read_attributes(std::string_view text, size_t& at, std::string& href, std::string& parse,
                     bool& has_href) {
    while (true) {
        while (at < text.size() && is_space(text[at]))
            ++at;
        if (at >= text.size())
            return false;
        if (text[at] == '>') {
            ++at;
            return true;
        }
        if (text[at] == '/') {
            ++at;
            continue;
        }
        const size_t name_start = at;
        while (at < text.size() && !is_space(text[at]) && text[at] != '=' && text[at] != '>' &&
               text[at] != '/')
            ++at;
        const std::string_view name = text.substr(name_start, at - name_start);
        while (at < text.size() && is_space(text[at]))
            ++at;
        if (at >= text.size() || text[at] != '=')
            continue;
        ++at;
        while (at < text.size() && is_space(text[at]))
            ++at;
        if (at >= text.size() || (text[at] != '"' && text[at] != '\''))
            return false;
        const size_t close = text.find(text[at], at + 1);
        if (close == std::string_view::npos)
            return false;
        const std::string_view value = text.substr(at + 1, close - at - 1);
        at = close + 1;
        if (name == "href") {
            href = value;
            has_href = true;
        } else if (name == "parse") {
            parse = value;
        }
    }
}

// Whether the file at path (or a file it includes, found through files) is newer than time or
// missing, or cannot be scanned.
bool includes_changed(FileSystem& files, const std::string& path, std::uint64_t time,
                      std::set<std::string>& seen) {
    Archive source = files.open(path, "r");
    if (!source.has_store())
        return true;
    const std::string text = read_byte_string(source, static_cast<std::uint32_t>(source.size()));
    const std::optional<std::vector<std::string>> includes =
        scan_includes(text, document_directory(path));
    if (!includes)
        return true;
    for (const std::string& include : *includes) {
        if (!seen.insert(normalize_path(include, false, false)).second)
            continue;
        EntryInfo info;
        if (!files.look_up(include, info) || info.is_directory || info.modification_time > time ||
            includes_changed(files, include, time, seen))
            return true;
    }
    return false;
}

// The files the dependency file of output names, when it was written with the binary or later.
std::optional<Depfile> own_depfile(const BinaryOutput& output, std::uint64_t binary_time) {
    DiskFileSystem& disk = default_disk_file_system();
    EntryInfo info;
    Depfile rule("");
    if (!disk.look_up(output.depfile, info) || info.modification_time < binary_time ||
        !Depfile::read(output.depfile, rule) || rule.target() != output.target)
        return std::nullopt;
    return rule;
}

}  // namespace

std::optional<std::vector<std::string>> scan_includes(std::string_view text,
                                                      std::string_view directory) {
    std::vector<std::string> includes;
    // Most files include nothing: one search answers for them.
    size_t left = count_names(text);
    if (left == 0)
        return includes;
    // UTF-16 and UCS-4 hide the names from the search above.
    if (text.size() >= 2 && (text.starts_with("\xFE\xFF") || text.starts_with("\xFF\xFE")))
        return std::nullopt;
    if (text.substr(0, 4).find('\0') != std::string_view::npos)
        return std::nullopt;

    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at)) {
        ++at;
        if (text.compare(at, 3, "!--") == 0) {
            const size_t end = text.find("-->", at + 3);
            const std::string_view comment = text.substr(at, end - at);
            left -= count_names(comment);
            if (end == std::string_view::npos)
                break;
            at = end + 3;
            continue;
        }
        if (text.compare(at, 7, "xdefine") == 0 && is_name_end(text, at + 7)) {
            // A define's body is markup read again where the define is used, in another
            // document's directory perhaps.
            const size_t end = text.find("</xdefine>", at);
            if (count_names(text.substr(at, end - at)) > 0)
                return std::nullopt;
            continue;
        }
        const bool end_tag = at < text.size() && text[at] == '/';
        const std::string_view name = include_tag(text, at + (end_tag ? 1 : 0));
        if (name.empty())
            continue;
        --left;
        if (end_tag)
            continue;
        at += name.size();
        std::string href, parse;
        bool has_href = false;
        if (!read_attributes(text, at, href, parse, has_href))
            return std::nullopt;
        if (parse == "text")
            continue;
        // Values in double quotes expand defines; entities are left to the parser.
        if (!has_href || href.empty() || href.find_first_of("@&") != std::string::npos)
            return std::nullopt;
        std::string path = resolve_include(directory, href);
        path.resize(std::min(path.size(), path.find('#')));
        includes.push_back(std::move(path));
    }
    // A name anywhere else (an attribute, text a define may turn into markup) is not followed.
    if (left != 0)
        return std::nullopt;
    return includes;
}

BinaryState binary_state(FileSystem& files, const std::string& path, const BinaryOutput& output) {
    EntryInfo binary, source;
    if (!files.look_up(output.binary, binary) || !files.look_up(path, source) ||
        binary.modification_time < source.modification_time)
        return BinaryState::stale;
    if (const std::optional<Depfile> rule = own_depfile(output, binary.modification_time)) {
        DiskFileSystem& disk = default_disk_file_system();
        for (const std::string& input : rule->inputs()) {
            EntryInfo info;
            if (!disk.look_up(input, info) || info.modification_time > binary.modification_time)
                return BinaryState::stale;
        }
        return BinaryState::up_to_date;
    }
    std::set<std::string> seen{normalize_path(path, false, false)};
    return includes_changed(files, path, binary.modification_time, seen)
               ? BinaryState::stale
               : BinaryState::up_to_date_scanned;
}

}  // namespace kam
