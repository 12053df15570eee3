// The text parser's entry: decodes one file's bytes and builds its tree.
#pragma once

#include <cstddef>
#include <string>

#include "utility/large_block.h"

namespace kam {

class XMLDocument;

// The room parse_xml needs past the input.
constexpr size_t xml_parse_padding = 16;

// Parses the file's size bytes, which are followed by xml_parse_padding bytes of room, into the
// document's root. Throws XMLParseError (and the errors of defines and includes) on malformed
// input; returns false when an unknown entity was met.
bool parse_xml(XMLDocument& document, LargeBlock bytes, size_t size,
               const std::string& archive_name);

namespace detail {
// Off, every byte goes through the one-code-point reader; tests compare both ways.
extern bool xml_fast_paths;
}  // namespace detail

}  // namespace kam
