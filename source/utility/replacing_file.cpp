// Files replaced in one step: written as a temporary, flushed, renamed over the destination.
#include "utility/replacing_file.h"

#include "utility/disk_file_system.h"
#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"
#include "utility/platform/files.h"

namespace kam {

ReplacingFile::ReplacingFile(const std::string& destination) : destination_(destination) {
    // A stray file of the first name may be somebody's: never overwrite it.
    DiskFileSystem& disk = default_disk_file_system();
    temporary_ = destination + ".tmp";
    for (int attempt = 2; disk.exists(temporary_); ++attempt) {
        temporary_ = destination + ".tmp" + std::to_string(attempt);
    }
    archive_.emplace(disk.open(temporary_, "w"));
}

ReplacingFile::~ReplacingFile() {
    if (committed_) return;
    archive_.reset();
    platform::delete_file(temporary_);
}

void ReplacingFile::commit() {
    archive_.reset();
    // The data must be on the device before the rename makes it the destination.
    const platform::FileHandle file = platform::open_file(
        temporary_, platform::open_existing, platform::generic_write, platform::share_read);
    const bool flushed = file != platform::invalid_file && platform::flush_file(file);
    const std::uint32_t error = platform::last_error();
    platform::close_file(file);
    if (!flushed) throw DiskError("Cannot flush " + temporary_, error);
    if (!platform::rename_file(temporary_, destination_)) {
        throw DiskError("Cannot replace " + destination_ + " with " + temporary_,
                        platform::last_error());
    }
    committed_ = true;
}

}  // namespace kam
