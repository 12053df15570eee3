// The bundle and quick-bundle builds: what is packed from a content root and its load logs, in
// which order, and where the bundle and its listing are written.
#pragma once

#include <string>
#include <vector>

namespace kam {

// What the command line asked for. Paths on disk are absolute in canonical form with one leading
// separator (make_absolute); the command fills them in.
struct BundleSettings {
    std::string root;
    // The load log being built; file-log builds only.
    std::string log_file;
    std::string prepend_log;
    std::string append_log;
    // Files that no log names get their data after the logged ones.
    bool log_union = false;
    // Missing files get no entry instead of a hidden one.
    bool skip_missing = false;
    // Where the bundle goes instead of root\bundles\quick.bundle; its listing beside it + ".log".
    std::string force_destination;
    // Absolute and canonical, no trailing separator; a directory's files are ignored with it.
    std::vector<std::string> ignore_files;
    // Compared with the lower-case file name and extension (dot included).
    std::vector<std::string> ignore_names;
    std::vector<std::string> ignore_extensions;
    // Packed last, as given; each must lie below the root.
    std::vector<std::string> force_files;
};

// Where the bundle and its listing are written: the forced destination and the same + ".log", else
// root\bundles\quick.bundle and root\bundles\quick.log.
std::string bundle_destination(const BundleSettings& settings);
std::string listing_destination(const BundleSettings& settings);

// Builds the bundle of settings.log_file and writes it with its listing: every file under the root
// gets an entry, and data goes in this order: the prepend log's files, the log's, with log_union
// every other file in walk order, the append log's, the force files. Progress on log_verbose.
// Throws std::runtime_error when the root is not a directory, "Could not load xml: " + name for a
// log that does not parse, and the file layer's errors; the destination is then left as it was.
void build_file_log_bundle(const BundleSettings& settings);

// Builds the bundle of every file under the root (after the prepend log's, before the append log's
// and the force files) and writes it with its listing. Throws as build_file_log_bundle.
void build_quick_bundle(const BundleSettings& settings);

}  // namespace kam
