// The text parser's entry: decodes one file's bytes and builds its tree.
#pragma once

#include <cstddef>
#include <string>

namespace kam {

class XMLDocument;

// Parses the whole file into the document's root. Throws XMLParseError (and the errors of
// defines and includes) on malformed input; returns false when an unknown entity was met.
bool parse_xml(XMLDocument& document, std::string bytes, const std::string& archive_name);

// The bytes parse_xml appends past the input: bytes with this much spare capacity are parsed
// where they are, without a copy.
constexpr size_t xml_parse_padding = 16;

namespace detail {
// Off, every byte goes through the one-code-point reader; tests compare both ways.
extern bool xml_fast_paths;
}  // namespace detail

}  // namespace kam
