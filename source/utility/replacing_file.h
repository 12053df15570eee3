// A file written beside its destination and put in its place only once complete.
#pragma once

#include <optional>
#include <string>

#include "utility/archive.h"

namespace kam {

// Written as a temporary beside the destination (through the default disk file system) and
// renamed over it once complete and flushed, so that a failed write never replaces a good file;
// unless committed, the temporary is removed on destruction. The constructor throws the store's
// DiskError when the temporary cannot be created.
class ReplacingFile {
public:
    explicit ReplacingFile(const std::string& destination);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    Archive& archive() { return *archive_; }

    // Flushes the temporary to the device and renames it over the destination. Throws DiskError
    // "Cannot flush " + temporary or "Cannot replace " + destination + " with " + temporary.
    void commit();

private:
    std::string destination_;
    std::string temporary_;
    std::optional<Archive> archive_;
    bool committed_ = false;
};

}  // namespace kam
