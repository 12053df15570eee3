// The extract command: copies files out of a bundle to disk.
#include <cstdio>
#include <string>

#include "bundle/bundle_extractor.h"
#include "bundle/bundle_index.h"
#include "commands.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"
#include "utility/output_streams.h"
#include "utility/progress.h"

namespace {

const char* const usage_lines[] = {
    "trovex extract [options] bundle [subdir] [targetpath]",
    "",
    "options:",
    "    -r, --recursive            If specified, subdirectories will be copied as well.",
    ("    -d, --allow_delete         If specified, bundle remove files and directories will be "
     "removed from target!"),
    "",
    "bundle: path to bundle file to copy from",
    "subdir: subpath inside bundle to copy from. This may end with wildcards for the copy.",
    "targetpath: path outside bundle to copy files to.",
    "",
    "Extract the contents of a bundle file to disk.",
};

}  // namespace

int extract_command() {
    CommandLine& line = *CommandLine::current;
    const std::string first = line.argument(0);
    if (printed_usage(first, usage_lines))
        return 1;
    kam::BundleExtractor::Options options;
    options.recursive = line.has_flag('r', "recursive");
    options.allow_delete = line.has_flag('d', "allow_delete");
    // Under break-on-error the first error must end the run before anything after it is done.
    options.jobs = line.break_on_error ? 1 : line.jobs;
    line.report_unknown_flags();
    kam::Progress progress = kam::standard_error_progress(line.verbosity);
    options.progress = &progress;

    kam::BundleIndex index;
    index.load(kam::default_disk_file_system().open(line.argument(0), "r"));
    kam::BundleExtractor extractor(kam::default_disk_file_system(), index, options);
    extractor.extract(line.argument(1), line.argument(2));
    log_verbose << std::flush;
    // Names refused for safety were reported; the run did not do all it was asked.
    return extractor.refused() == 0 ? 0 : 1;
}
