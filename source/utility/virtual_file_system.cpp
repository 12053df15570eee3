// The process-wide virtual file system and the recording of load logs.
#include "utility/virtual_file_system.h"

#include <unordered_set>
#include <utility>

#include "bundle/load_log.h"
#include "utility/disk_file_system.h"
#include "utility/encoding.h"
#include "utility/job_queue.h"
#include "utility/path.h"
#include "utility/platform/directories.h"

namespace kam {

VirtualFileSystem* VirtualFileSystem::instance_ = nullptr;
int VirtualFileSystem::next_mount_id_ = 1;

namespace {

std::string canonical(const std::string& path) {
    return normalize_path(path, false, false);
}

bool reads_only(const std::string& mode) {
    return mode.find('r') != std::string::npos && mode.find('+') == std::string::npos;
}

}  // namespace

VirtualFileSystem::VirtualFileSystem() {
    if (instance_ == nullptr)
        instance_ = this;
}

VirtualFileSystem::~VirtualFileSystem() {
    set_recording(false);
    clear_mounts();
    if (instance_ == this)
        instance_ = nullptr;
}

VirtualFileSystem& VirtualFileSystem::instance() {
    if (instance_ == nullptr)
        throw ErrorWithCStack("The virtual file system has not been created");
    return *instance_;
}

int VirtualFileSystem::mount(const std::string& prefix, FileSystem* file_system, bool owned) {
    const int id = next_mount_id_++;
    mounts_.push_back({normalize_path(prefix, true, false), file_system, owned, id});
    return id;
}

bool VirtualFileSystem::unmount(int mount_id) {
    for (auto mount = mounts_.begin(); mount != mounts_.end(); ++mount) {
        if (mount->id != mount_id)
            continue;
        if (mount->owned)
            delete mount->file_system;
        mounts_.erase(mount);
        return true;
    }
    return false;
}

void VirtualFileSystem::clear_mounts() {
    for (const Mount& mount : mounts_) {
        if (mount.owned)
            delete mount.file_system;
    }
    mounts_.clear();
}

std::vector<VirtualFileSystem::Candidate> VirtualFileSystem::candidates(
    const std::string& path) const {
    const std::string normal = canonical(path);
    std::vector<Candidate> found;
    for (const Mount& mount : mounts_) {
        if (normal.compare(0, mount.prefix.size(), mount.prefix) == 0) {
            found.push_back({mount.file_system, normal.substr(mount.prefix.size())});
        }
    }
    return found;
}

const VirtualFileSystem::Candidate* VirtualFileSystem::answering(
    const std::vector<Candidate>& found) const {
    for (const Candidate& candidate : found) {
        if (candidate.file_system->exists(candidate.path))
            return &candidate;
        if (candidate.file_system->hides(candidate.path) ||
            candidate.file_system->owns(candidate.path))
            break;
    }
    return nullptr;
}

bool VirtualFileSystem::exists(const std::string& path) {
    const auto found = candidates(path);
    return answering(found) != nullptr;
}

bool VirtualFileSystem::look_up(const std::string& path, EntryInfo& info) {
    Found found = find(path);
    if (found.found())
        info = found.info;
    return found.found();
}

VirtualFileSystem::Found VirtualFileSystem::find(const std::string& path) {
    return find(path, false);
}

VirtualFileSystem::Found VirtualFileSystem::find_file(const std::string& path) {
    return find(path, true);
}

VirtualFileSystem::Found VirtualFileSystem::find(const std::string& path, bool open_file) {
    Found found;
    found.path = canonical(path);
    for (const Mount& mount : mounts_) {
        if (found.path.compare(0, mount.prefix.size(), mount.prefix) != 0)
            continue;
        found.local_path.assign(found.path, mount.prefix.size());
        FileSystem& file_system = *mount.file_system;
        if (open_file ? file_system.look_up_and_open(found.local_path, found.info, found.file)
                      : file_system.look_up(found.local_path, found.info)) {
            found.file_system = &file_system;
            return found;
        }
        if (file_system.hides(found.local_path) || file_system.owns(found.local_path))
            break;
    }
    found.local_path.clear();
    found.info = EntryInfo();
    found.file = Archive();
    return found;
}

Archive VirtualFileSystem::open(Found& found, const std::string& mode) {
    if (!reads_only(mode))
        return open(found.path, mode);
    if (recording_ && bundles_enabled_ && log_) {
        const std::string line = load_log_line(found.path, mode);
        log_->checked_write(line.data(), static_cast<std::uint32_t>(line.size()));
    }
    Archive opened = std::exchange(found.file, Archive());
    if (mode == "r" && opened.has_store())
        return opened;
    return found.found() ? found.file_system->open(found.local_path, mode) : Archive();
}

std::string VirtualFileSystem::source_path(const Found& found) {
    return found.found() ? found.file_system->source_path(found.local_path) : found.path;
}

bool VirtualFileSystem::is_dir(const std::string& path) {
    const auto found = candidates(path);
    const Candidate* candidate = answering(found);
    return candidate != nullptr && candidate->file_system->is_dir(candidate->path);
}

std::string VirtualFileSystem::physical_path(const std::string& path, std::uint64_t& offset,
                                             std::uint32_t& size) {
    const auto found = candidates(path);
    if (const Candidate* candidate = answering(found)) {
        return candidate->file_system->physical_path(candidate->path, offset, size);
    }
    return path;
}

std::string VirtualFileSystem::full_path(const std::string& path) {
    const auto found = candidates(path);
    const Candidate* candidate = answering(found);
    return candidate != nullptr ? candidate->file_system->full_path(candidate->path) : path;
}

std::string VirtualFileSystem::source_path(const std::string& path) {
    const auto found = candidates(path);
    const Candidate* candidate = answering(found);
    return candidate != nullptr ? candidate->file_system->source_path(candidate->path) : path;
}

std::uint64_t VirtualFileSystem::modification_time(const std::string& path) {
    const auto found = candidates(path);
    const Candidate* candidate = answering(found);
    return candidate != nullptr ? candidate->file_system->modification_time(candidate->path) : 0;
}

Archive VirtualFileSystem::open(const std::string& path, const std::string& mode) {
    if (recording_ && bundles_enabled_ && log_) {
        const std::string line = load_log_line(path, mode);
        // One write per line: the log is complete up to the last open even if the process dies.
        log_->checked_write(line.data(), static_cast<std::uint32_t>(line.size()));
    }
    const auto found = candidates(path);
    if (reads_only(mode)) {
        if (const Candidate* candidate = answering(found)) {
            return candidate->file_system->open(candidate->path, mode);
        }
        return Archive();
    }
    for (const Candidate& candidate : found) {
        if (!candidate.file_system->is_read_only())
            return candidate.file_system->open(candidate.path, mode);
    }
    return Archive();
}

std::unique_ptr<ReplacingFile> VirtualFileSystem::create_replacing(const std::string& path) {
    for (const Candidate& candidate : candidates(path)) {
        if (candidate.file_system->is_read_only())
            continue;
        std::unique_ptr<ReplacingFile> file =
            candidate.file_system->create_replacing(candidate.path);
        if (file && recording_ && bundles_enabled_ && log_) {
            const std::string line = load_log_line(path, "w");
            log_->checked_write(line.data(), static_cast<std::uint32_t>(line.size()));
        }
        return file;
    }
    return nullptr;
}

bool VirtualFileSystem::make_dir(const std::string& path) {
    for (const Candidate& candidate : candidates(path)) {
        if (!candidate.file_system->is_read_only())
            return candidate.file_system->make_dir(candidate.path);
    }
    return false;
}

bool VirtualFileSystem::remove(const std::string& path) {
    for (const Candidate& candidate : candidates(path)) {
        if (!candidate.file_system->is_read_only())
            return candidate.file_system->remove(candidate.path);
    }
    return false;
}

namespace {

// Names already given, in canonical form: a name that a later file system gives again is left out.
class NameSet {
public:
    explicit NameSet(const std::vector<std::string>& names) {
        for (const std::string& name : names)
            seen_.insert(canonical(name));
    }
    void add_new(std::vector<std::string>& listed, std::vector<std::string>& names) {
        for (std::string& name : listed) {
            if (seen_.insert(canonical(name)).second)
                names.push_back(std::move(name));
        }
        listed.clear();
    }

private:
    std::unordered_set<std::string> seen_;
};

}  // namespace

void VirtualFileSystem::list(const std::string& directory, const std::string& patterns,
                             bool want_directories, std::vector<std::string>& names) {
    NameSet seen(names);
    std::vector<std::string> listed;
    for (const Candidate& candidate : candidates(directory)) {
        candidate.file_system->list(candidate.path, patterns, want_directories, listed);
        seen.add_new(listed, names);
    }
}

void VirtualFileSystem::list_both(const std::string& directory, const std::string& patterns,
                                  std::vector<std::string>& files,
                                  std::vector<std::string>& directories) {
    NameSet seen_files(files), seen_directories(directories);
    std::vector<std::string> listed_files, listed_directories;
    for (const Candidate& candidate : candidates(directory)) {
        candidate.file_system->list_both(candidate.path, patterns, listed_files,
                                         listed_directories);
        seen_files.add_new(listed_files, files);
        seen_directories.add_new(listed_directories, directories);
    }
}

void VirtualFileSystem::set_recording(bool on) {
    recording_ = on;
    log_.reset();
    // Without a file system that has the disk root there is nowhere to record to (the root of
    // the whole disk is never meant).
    if (!on || !exists("/"))
        return;
    const std::string root = full_path("/");
    platform::create_directory(root + "bundles");  // an existing directory is fine
    try {
        log_ = std::make_unique<Archive>(
            default_disk_file_system().open(root + "bundles" + "/" + log_name_ + ".xml", "a"));
    } catch (const DiskError&) {
        // Like a failed stream: recording stays on and writes nothing.
        log_.reset();
    }
    if (log_ && !log_->has_store())
        log_.reset();
}

bool write_whole_file(VirtualFileSystem& files, const std::string& path,
                      const std::function<void(Archive&)>& write,
                      std::function<void(const DiskError&)> put_failed) {
    std::shared_ptr<ReplacingFile> replacing = files.create_replacing(path);
    if (!replacing) {
        Archive file = files.open(path, "w");
        if (!file.has_store())
            return false;
        try {
            write(file);
        } catch (...) {
            file = Archive();  // closed before it is removed
            files.remove(path);
            throw;
        }
        return true;
    }
    write(replacing->archive());
    replacing->close();
    // The discard only lets go: the last owner removes an uncommitted temporary.
    JobQueue::on_release(
        [replacing, put_failed = std::move(put_failed)] {
            if (!put_failed)
                return replacing->commit();
            try {
                replacing->commit();
            } catch (const DiskError& error) {
                put_failed(error);
            }
        },
        [] {});
    return true;
}

std::string VirtualFileSystem::load_log_line(const std::string& path, const std::string& mode) {
    std::string line = "   <open path=\"";
    append_escaped(line, canonical(path), Greater::escaped);
    line += "\" flags=\"";
    append_escaped(line, mode, Greater::escaped);
    line += "\" />\r\n";
    return line;
}

}  // namespace kam
