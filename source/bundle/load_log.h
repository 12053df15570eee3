// Reading load logs: the files a game run opened, in order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "utility/id_string.h"

namespace kam {

// The paths of a load log's open elements in file order, canonical and interned, duplicates
// kept. Throws the store's DiskError when the file cannot be opened, and std::runtime_error
// "Could not load xml: " + name when it does not parse.
std::vector<IdString> read_load_log(const std::string& name);

// The same over a log's content already in memory; name is only used in the error.
std::vector<IdString> parse_load_log(std::string_view content, const std::string& name);

// read_load_log and parse_load_log without interning (an element without a path gives an empty
// one): a bundle's log of tens of thousands of paths, each used once, spent a tenth of its
// reading growing the table of interned strings.
std::vector<std::string> read_load_log_paths(const std::string& name);
std::vector<std::string> parse_load_log_paths(std::string_view content, const std::string& name);

// Appends text as a double-quoted attribute value of a log line: '&', '<' and '"' become the
// entity references the reader turns back, every other byte stays. Unescaped, they would leave a
// log that no longer parses.
// Recorded logs have always written '>' as "&gt;", merged logs as it is; both read back alike.
enum class Greater { kept, escaped };
void append_escaped(std::string& out, std::string_view text, Greater greater = Greater::kept);

}  // namespace kam
