// The process-wide file system that layers mounted file systems under path prefixes and can
// record every open into a load log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "utility/file_system.h"

namespace kam {

// Paths are put in canonical form (normalize_path without leading or trailing separator); a
// mount whose prefix starts the path is a candidate, in mount order, asked with the prefix
// removed. Questions and opens may come from several threads while the mounts and the recording
// stay as they are; changing those is for the command's thread, with no job running.
class VirtualFileSystem : public FileSystem {
public:
    // The first one constructed becomes the process-wide instance until it is destroyed.
    VirtualFileSystem();
    // Switches recording off and clears the mounts.
    ~VirtualFileSystem() override;
    VirtualFileSystem(const VirtualFileSystem&) = delete;
    VirtualFileSystem& operator=(const VirtualFileSystem&) = delete;

    // The process-wide instance; throws ErrorWithCStack when there is none.
    static VirtualFileSystem& instance();
    static bool has_instance() { return instance_ != nullptr; }

    // Mounts a file system under the prefix ("/" and "" match every path); an owned one is
    // deleted when it is unmounted or the mounts are cleared. Returns the mount id (from 1 up,
    // across the process).
    int mount(const std::string& prefix, FileSystem* file_system, bool owned);
    // Removes the mount with that id; false when there is none.
    bool unmount(int mount_id);
    void clear_mounts();

    // The first candidate whose exists is true answers; a candidate that hides or owns the path
    // ends the search. Unanswered: false, 0, or the path unchanged.
    bool exists(const std::string& path) override;
    bool look_up(const std::string& path, EntryInfo& info) override;
    bool is_dir(const std::string& path) override;
    std::string physical_path(const std::string& path, std::uint64_t& offset,
                              std::uint32_t& size) override;
    std::string full_path(const std::string& path) override;
    std::string source_path(const std::string& path) override;
    std::uint64_t modification_time(const std::string& path) override;
    // Reading modes (an 'r' and no '+') open through the first candidate that has the file;
    // others through the first one that is not read-only. While recording, the open is written to
    // the load log first. An archive without a store when nobody opens it.
    Archive open(const std::string& path, const std::string& mode) override;
    // Through the first candidate that is not read-only; null when there is none or it cannot.
    // Recorded as an open with "w".
    std::unique_ptr<ReplacingFile> create_replacing(const std::string& path) override;
    // The first candidate that is not read-only does the work; false when there is none.
    bool make_dir(const std::string& path) override;
    bool remove(const std::string& path) override;
    // Asks every candidate and keeps each name once (compared in canonical form), first come
    // first kept.
    void list(const std::string& directory, const std::string& patterns, bool want_directories,
              std::vector<std::string>& names) override;
    void list_both(const std::string& directory, const std::string& patterns,
                   std::vector<std::string>& files, std::vector<std::string>& directories) override;

    // Which file system answers for a path, found with one look_up per candidate, so that the
    // caller can go on without asking again. Valid while the mounts stay as they are.
    struct Found {
        std::string path;                   // canonical form, as asked
        FileSystem* file_system = nullptr;  // null when no candidate answers
        std::string local_path;             // the path inside file_system
        EntryInfo info;
        // Opened for reading by find_file where the file system could do that in the same step.
        Archive file;
        bool found() const { return file_system != nullptr; }
    };
    Found find(const std::string& path);
    // find, opening a file it finds for reading at once where the file system can: for a file
    // that is read after its time has been checked.
    Found find_file(const std::string& path);
    // As with the path that was found, without the search; modes other than reading search anew.
    // Reading with "r" hands over the file find_file opened, once; the load log still gets its
    // line here. Unanswered: no store, and the canonical path.
    Archive open(Found& found, const std::string& mode);
    std::string source_path(const Found& found);

    // Recording of opens: on, the load log <disk root>bundles/<log name>.xml is opened for
    // appending (the bundles directory is created when missing; when no file system has the disk
    // root or the log cannot be opened, nothing is written); off, it is closed.
    void set_recording(bool on);
    bool recording() const { return recording_; }
    void set_log_name(const std::string& name) { log_name_ = name; }
    const std::string& log_name() const { return log_name_; }
    // The second switch, consulted by bundle file systems: while off they act as if empty and
    // nothing is recorded. Initially on.
    void set_bundles_enabled(bool on) { bundles_enabled_ = on; }
    bool bundles_enabled() const { return bundles_enabled_; }

    // The load-log line of one open: three blanks, <open path="..." flags="..." />, CR LF; the
    // path in canonical form. '&', '<', '>' and '"' are written as entities so that every log
    // reads back as XML.
    static std::string load_log_line(const std::string& path, const std::string& mode);

private:
    struct Mount {
        std::string prefix;
        FileSystem* file_system;
        bool owned;
        int id;
    };
    struct Candidate {
        FileSystem* file_system;
        std::string path;
    };

    Found find(const std::string& path, bool open_file);
    std::vector<Candidate> candidates(const std::string& path) const;
    // The candidate that answers a question about an existing path, or null.
    const Candidate* answering(const std::vector<Candidate>& found) const;

    std::vector<Mount> mounts_;
    bool recording_ = false;
    bool bundles_enabled_ = true;
    std::unique_ptr<Archive> log_;
    std::string log_name_ = "script_not_set";

    static VirtualFileSystem* instance_;
    static int next_mount_id_;
};

// Writes a whole file with write: as a temporary that takes the path's place when the job writing
// it is released (JobQueue::on_release; at once outside a job) and is dropped when an earlier job
// failed, so that readers and other writers of the path never see it half written; where no file
// system makes temporaries, in place. False when nobody can create the file. When write throws,
// nothing is left of the new file (in place: the path is removed) and the exception passes on.
// A failure to put the file in place goes to put_failed when given, else it is thrown.
bool write_whole_file(VirtualFileSystem& files, const std::string& path,
                      const std::function<void(Archive&)>& write,
                      std::function<void(const DiskError&)> put_failed = nullptr);

// Mounts a file system for as long as the object lives, as a command does with its disk root.
class ScopedMount {
public:
    ScopedMount(const std::string& prefix, FileSystem* file_system, bool owned)
        : id_(VirtualFileSystem::instance().mount(prefix, file_system, owned)) {}
    ~ScopedMount() { VirtualFileSystem::instance().unmount(id_); }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

private:
    int id_;
};

}  // namespace kam
