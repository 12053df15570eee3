// The binary form of an XML document (".xmb"): its name and its header test.
#pragma once

#include <string>
#include <string_view>

namespace kam {

class Archive;

// The version byte (read as signed) when the archive holds at least 4 bytes starting with
// "XML", -1 when its 4 bytes start otherwise, 0 when it holds fewer. Leaves the position at 0.
int binary_xml_version(Archive& archive);

// The source path with its last four characters replaced by ".xmb" when it ends in a name, a dot
// and three characters other than "xmb"; empty otherwise: such a file has no binary form.
std::string binary_xml_path(std::string_view source_path);

}  // namespace kam
