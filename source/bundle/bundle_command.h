// The bundle and quick-bundle builds: what is packed from a content root and its load logs, in
// which order, and where the bundle and its listing are written.
#pragma once

#include <string>
#include <vector>

#include "utility/progress.h"

namespace kam {

// What the command line asked for. Paths on disk are absolute in canonical form with one leading
// separator (make_absolute); the command fills them in.
struct BundleSettings {
    std::string root;
    // Every load log of the run, in order, and the one being built; file-log builds only.
    std::vector<std::string> log_files;
    std::string log_file;
    std::string prepend_log;
    std::string append_log;
    // Files that no log names get their data after the logged ones.
    bool log_union = false;
    // Missing files get no entry instead of a hidden one.
    bool skip_missing = false;
    // Where the bundle goes instead of root\bundles; its listing beside it + ".log".
    std::string force_destination;
    // Absolute and canonical, no trailing separator; a directory's files are ignored with it.
    std::vector<std::string> ignore_files;
    // Compared with the lower-case file name and extension (dot included).
    std::vector<std::string> ignore_names;
    std::vector<std::string> ignore_extensions;
    // Packed last, as given; each must lie below the root.
    std::vector<std::string> force_files;
    // How many files are copied at once.
    int jobs = 1;
    // Shows the copying of each bundle, when given.
    Progress* progress = nullptr;
    // A dependency file beside each bundle, + ".d", naming what went into it; its paths below the
    // root start with the root as the command line gave it.
    bool depfile = false;
    std::string given_root;
};

// Where the bundle and its listing of settings.log_file are written: the forced destination and
// the same + ".log", else root\bundles\LOG.bundle and root\bundles\LOG.log, LOG being the log's
// file name without its extension ("quick" for a quick build).
std::string bundle_destination(const BundleSettings& settings);
std::string listing_destination(const BundleSettings& settings);

// The bundles, listings and dependency files of every build of the run (of each of log_files, or of
// the one build when there are none): the walks pack none of them.
std::vector<std::string> run_outputs(const BundleSettings& settings);

// Builds the bundle of each of settings.log_files in turn and writes it with its listing (and
// dependency file, after them, which names the logs, the force files, every directory the walk
// listed but the one the outputs go to, whose time they change, and every file packed): every
// file under the root gets an entry, and data goes in this order: the prepend log's files, the
// log's, with log_union every other file in walk order, the append log's, the force files.
// Progress on log_verbose. Before anything is written, throws std::runtime_error when a prepend
// or append log does not exist, when two different logs would write the same bundle, and as
// check_outputs_are_not_inputs when an output is a log or a force file. Throws when the root is
// not a directory, "Could not load xml: " + name for a log that does not parse, and the file
// layer's errors; that build's destination is then left as it was.
void build_file_log_bundles(const BundleSettings& settings);

// Builds the bundle of every file under the root (after the prepend log's, before the append log's
// and the force files) and writes it with its listing. Throws as build_file_log_bundles.
void build_quick_bundle(const BundleSettings& settings);

}  // namespace kam
