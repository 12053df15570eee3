// Copies files out of a bundle onto disk and, on request, applies the bundle's hidden entries by
// deleting what they name.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bundle/bundle_index.h"
#include "utility/progress.h"

namespace kam {

class FileSystem;

// Writes only below the target it is given: names that could reach outside it are refused, and
// symbolic links found in it are never followed (a link where a file or directory would go is
// refused; one named by a hidden entry is removed as a link). Refusals are written to
// error_stream (which throws under break-on-error) and the name is skipped, as is a target
// directory that does not exist ("Directory '...' doesn't exist."). Progress goes to log_verbose;
// the notice "Failed to copy ..." to standard output.
class BundleExtractor {
public:
    struct Options {
        bool recursive = false;     // also the subdirectories, created as needed
        bool allow_delete = false;  // hidden entries delete what they name on disk
        // Files written at once; what is printed and left on disk is the same for any number,
        // also when a failure ends the run.
        int jobs = 1;
        // Shows the files copied, when given.
        Progress* progress = nullptr;
    };

    // Reads and writes through fs, from several jobs at once when there are more than one. The
    // index must hold the archive it was loaded from while extracting.
    BundleExtractor(FileSystem& fs, const BundleIndex& index, Options options);

    // Extracts into target (a directory that must exist; empty for the current directory) the
    // files of the visible directory that subpath names, or the one visible file it names, or
    // the root's files when it is empty. Else the subpath's last component is taken as a pattern
    // (first_matching_pattern) for the names of its directory. Throws std::runtime_error "Trovex
    // subpath not found" when it names nothing visible and matches nothing, and the disk and
    // archive errors of the files it reads and writes. A file already on disk is replaced only
    // once its new content is complete: a failed copy leaves it as it was. A file listed without
    // data creates an empty file where none is, and never replaces one. A directory where the
    // bundle has a file is an error, or with allow_delete removed once the file is complete.
    void extract(const std::string& subpath, const std::string& target);

    // How many names were refused.
    int refused() const { return refused_; }

private:
    // Which names of a directory are copied; empty for all.
    using NameFilter = std::function<bool(std::string_view)>;
    struct Run;

    // Adds up the files and bytes copy_tree would copy, for the progress line's totals.
    void count_tree(const std::string& directory, const NameFilter& keep, std::uint64_t& files,
                    std::uint64_t& bytes) const;
    // made: the run made target, so only its own files are in it.
    void copy_tree(const std::string& directory, const std::string& target, const NameFilter& keep,
                   Run& run, bool made = false);
    // A job: writes the file of entry (which has data or stands for an empty file) to
    // destination, the rename deferred to the job's release. in_made_directory: the run made
    // the destination's directory.
    void copy_file(const BundleEntry& entry, const std::string& source,
                   const std::string& destination, bool in_made_directory);
    void delete_entry(const std::string& destination);
    void refuse(const std::string& source, const std::string& why);

    FileSystem& fs_;
    const BundleIndex& index_;
    Options options_;
    std::atomic<int> refused_ = 0;
};

}  // namespace kam
