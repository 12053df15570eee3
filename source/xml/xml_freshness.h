// Whether a binary XML file is up to date, found without parsing it: from the dependency file of
// its last compile, or from a light scan of the includes of its source.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "utility/file_system.h"

namespace kam {

enum class BinaryState {
    stale,
    // By the dependency file written with it.
    up_to_date,
    // By a scan of the includes: no dependency file was written with it.
    up_to_date_scanned,
};

// Where a binary XML file and its dependency file lie on disk.
struct BinaryOutput {
    std::string binary;   // a path of the file system, as the loader writes it
    std::string target;   // the binary as the dependency file names it (spelled)
    std::string depfile;  // a native path
};

// The state of output, the binary form of the XML file at path (both paths of files). Stale when
// the binary is missing or older than the source; else when a file its last compile read is newer
// than it or missing. Those files come from the dependency file when it names output.target and
// is not older than the binary; otherwise from scan_includes, applied to each include in turn, and
// a file that cannot be scanned counts as changed.
BinaryState binary_state(FileSystem& files, const std::string& path, const BinaryOutput& output);

// The files an XML text includes, as the loader resolves them for a document in directory
// (document_directory). nullopt when the text may include in ways a scan cannot follow: an include
// inside a define, an href built from defines or entities, or text that is not ASCII-based.
// Comments are skipped; include elements in CDATA sections count as includes.
std::optional<std::vector<std::string>> scan_includes(std::string_view text,
                                                      std::string_view directory);

}  // namespace kam
