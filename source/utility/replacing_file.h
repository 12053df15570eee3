// A file written beside its destination and put in its place only once complete.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "utility/archive.h"
#include "utility/platform/files.h"

namespace kam {

// Whether a file name (without directories) is one ReplacingFile gives its temporaries:
// the destination's name + ".trovex-tmp" + a number. Walks that pack or compile skip them.
bool is_temporary_name(std::string_view name);

// A file being written that takes its name only once complete (FileSystem::write_pending).
class PendingFile {
public:
    virtual ~PendingFile() = default;
    virtual Archive& archive() = 0;
    // Puts the file in place, over what is there.
    virtual void commit() = 0;
    // Puts the file in place only when nothing is there; false, the file kept, when something is.
    virtual bool commit_if_new() = 0;
};

// Written as a temporary beside the destination and renamed over it once complete, so that a
// failed or interrupted write never replaces a good file nor leaves a partial one; unless
// committed, the temporary is removed on destruction, and by an interrupt while it exists
// (platform/interrupts.h). Messages name the destination, never the temporary. The constructor
// throws DiskError "Cannot open " + destination + " with create mode: ..." when the temporary
// cannot be created.
class ReplacingFile : public PendingFile {
public:
    // durable: the data is flushed to the device before the rename, so that a crash of the
    // system cannot leave the destination empty.
    enum class Flush { durable, lazy };

    // as_spelled: platform::may_replace said the destination is spelled as given.
    explicit ReplacingFile(const std::string& destination, Flush flush = Flush::durable,
                           bool as_spelled = false);
    ~ReplacingFile() override;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    Archive& archive() override { return *archive_; }
    // The temporary's handle, for copies that stay inside the system.
    platform::FileHandle handle() const { return handle_; }

    // Ends the writing: flushes the temporary (when durable) and closes it, so that the many
    // files waiting for their commit hold no handles. Throws DiskError "Cannot flush " + the
    // destination.
    void close();
    // Closes the temporary when still open and renames it over the destination. Throws DiskError
    // as close does, or "Cannot replace " + destination.
    void commit() override;
    // Closes the temporary when still open and renames it to the destination only when nothing
    // is there; false, with the temporary kept, when something is or the rename fails.
    bool commit_if_new() override;

private:
    std::string destination_;
    std::string temporary_;
    Flush flush_;
    bool as_spelled_;
    platform::FileHandle handle_ = platform::invalid_file;
    std::optional<Archive> archive_;
    int interrupt_slot_ = -1;
    bool committed_ = false;
};

// A new file that appears under its name only once complete, and only where nothing is: written
// without a name where the system allows (platform::create_unnamed_file), so that no failure,
// interrupt or kill leaves anything behind, and no rename is needed. Where it does not allow,
// created() is false and the caller writes a ReplacingFile.
class UnnamedFile {
public:
    explicit UnnamedFile(const std::string& destination);
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    bool created() const { return archive_.has_value(); }
    Archive& archive() { return *archive_; }
    // Gives the file its name and closes it; false, keeping nothing, when something is there.
    // Throws DiskError "Cannot create " + destination for any other failure.
    bool link();

private:
    std::string destination_;
    std::optional<Archive> archive_;
    platform::FileHandle handle_ = platform::invalid_file;
};

}  // namespace kam
