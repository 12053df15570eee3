// Patch bundles: what changed between an earlier and a later bundle, as a bundle of its own.
#pragma once

#include <string>

#include "bundle/bundle_builder.h"
#include "utility/file_system.h"

namespace kam {

// Walks post (a directory's files before its subdirectories, sibling subdirectories in reverse
// name order, paths with a leading separator) and adds to the builder every file that pre lacks
// ("Add:    " + path on log_verbose) or holds otherwise ("Modify: ": another size, other bytes,
// or a directory where post has a file). Then walks pre and adds every file post lacks
// ("Remove: "), which the builder turns into a hidden entry for the first component post lacks.
// Contents are compared in chunks, up to jobs files at once (pre and post must then allow
// concurrent reads); memory does not grow with the files, and the result and messages are the
// same for any number of jobs.
// The comparison of post's files is shown on progress, when given.
void compare_bundles(FileSystem& pre, FileSystem& post, BundleBuilder& builder, int jobs = 1,
                     Progress* progress = nullptr);

// The whole patch: compares with the start and end lines on log_verbose, then writes the patch
// bundle to destination with its data taken from post, and its listing to destination + ".log".
// Comparing and writing are shown on progress, when given.
void make_patch(FileSystem& pre, FileSystem& post, const std::string& destination, int jobs = 1,
                Progress* progress = nullptr);

}  // namespace kam
