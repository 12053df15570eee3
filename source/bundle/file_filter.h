// Chooses what goes into a bundle: walks a content root and reads load logs, applies the ignore
// rules and the expansions of logged paths, and hands each accepted file to a BundleBuilder.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bundle/bundle_builder.h"
#include "bundle/bundle_command.h"
#include "bundle/listed_disk_file_system.h"
#include "utility/file_system.h"

namespace kam {

class FileFilter {
public:
    // The walk lists and looks up through fs; the builder reads what it accepts from the default
    // disk file system. The settings must outlive the filter. The bundle being written and its
    // listing are never taken in, wherever they lie: a second run must not pack the first one's
    // output.
    FileFilter(FileSystem& fs, BundleBuilder& builder, const BundleSettings& settings);

    // On, accepted files get their data; off, only their entries.
    void set_add_data(bool on) { add_data_ = on; }

    // Considers every file under the root, depth first: a directory's files (in listing order)
    // before its subdirectories, sibling directories in reverse listing order. Directories that are
    // ignored, and links that lead back to a directory above them, are not entered. Of names that
    // differ only in case one is taken, and the clash is reported on the error stream. With
    // remember, the walk's listings and verdicts are kept, and the next walk goes through them
    // again, saying what this one said, instead of reading the disk a second time.
    void walk(bool remember = false);

    // Considers the files of every open element of the log, in order, with data, after expanding
    // each path (expand). Throws the errors of read_load_log.
    void add_from_log(const std::string& log);
    // The same for the paths read_load_log_paths gave.
    void add_logged(const std::vector<std::string>& paths);

    // Applies the ignore rules to a path on disk and, when it passes, adds it to the builder: with
    // data or as an entry only, a missing file as a hidden entry (or, with skip_missing, not at
    // all). Ignored paths are named on log_verbose. False when the path was ignored.
    bool consider(const std::string& path);

    // The bundle paths a logged path stands for, sorted: local\LANGUAGE\rest stands for the same
    // rest under every directory of the root's local directory (nothing when there is none), a
    // script source x.ksf for itself and its compiled form x.kxe, anything else for itself.
    std::set<std::string> expand(const std::string& path);

    // Every directory listed from disk so far, canonical with a trailing separator: a file added to
    // one or removed from it changes what the bundle holds.
    const std::vector<std::string>& listed_directories() const { return listed_directories_; }

private:
    // One step of a remembered walk.
    struct WalkStep {
        enum Kind : std::uint8_t { file, ignored_directory, leading_back } kind;
        std::string path;
        // The entry of a file taken in, when the walk added entries only.
        BundleEntryMap::value_type* named;
    };

    void replay_walk();
    void report_leading_back(const std::string& path);
    void expand(const std::string& path, bool allow_local, std::set<std::string>& names);
    bool accepts_directory(const std::string& canonical);
    // consider, for a canonical path; named, when given, gets the entry added without data.
    bool consider_canonical(const std::string& canonical,
                            BundleEntryMap::value_type** named = nullptr);
    void report_case_clash(const std::string& path, const char* what);
    bool is_ignored_file(const std::string& canonical) const;
    const std::vector<std::string>& languages();

    FileSystem& fs_;
    BundleBuilder& builder_;
    const BundleSettings& settings_;
    // The root in canonical form with a trailing separator.
    std::string root_prefix_;
    // What the builder asks of the disk, answered from the walk's listings where it can.
    ListedDiskFileSystem listed_;
    bool add_data_ = false;
    // The bundle and the listing this build writes, canonical.
    // The run's bundles and listings, canonical.
    std::vector<std::string> own_outputs_;
    // The root's local directory's subdirectories, listed on first use.
    std::optional<std::vector<std::string>> languages_;
    std::vector<WalkStep> remembered_walk_;
    // Paths whose case clash was reported.
    std::set<std::string> reported_;
    std::vector<std::string> listed_directories_;
};

}  // namespace kam
