// The make-patch command: a patch bundle of the differences between two bundles.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "bundle/bundle_file_system.h"
#include "bundle/bundle_patch.h"
#include "commands.h"
#include "utility/command_line.h"
#include "utility/depfile.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/output_streams.h"
#include "utility/progress.h"

namespace {

const char* const usage_lines[] = {
    "trovex make-patch pre-bundle post-bundle dest-bundle",
    "",
    "Creates a new patch bundle from the difference between two complete bundles.",
    "",
    "        --depfile              Writes a make dependency file DEST.d beside the patch.",
};

void load(kam::BundleFileSystem& bundle, const std::string& path) {
    kam::DiskFileSystem& disk = kam::default_disk_file_system();
    bundle.load(disk.open(path, "r"), disk.modification_time(path));
}

}  // namespace

int make_patch_command() {
    CommandLine& line = *CommandLine::current;
    // Taken first: the arguments are read by place.
    const bool depfile = line.has_flag('\0', "depfile");
    const std::string pre = line.argument(0);
    if (printed_usage(pre, usage_lines))
        return 1;
    const std::string post = line.argument(1);
    const std::string destination = line.argument(2);
    if (post.empty()) {
        error_stream << "No post-bundle file specified." << std::endl;
        throw std::runtime_error("No post-bundle");
    }
    if (destination.empty()) {
        error_stream << "No destination-bundle file specified." << std::endl;
        throw std::runtime_error("No destination");
    }
    // Written over a bundle it compares, the patch would be made of a file being truncated.
    kam::check_outputs_are_not_inputs({destination, destination + ".log", destination + ".d"},
                                      {pre, post});
    kam::BundleFileSystem before(nullptr);
    load(before, pre);
    kam::BundleFileSystem after(nullptr);
    load(after, post);
    // Under break-on-error the first error must end the run before anything after it is done.
    kam::Progress progress = kam::standard_error_progress(line.verbosity);
    kam::make_patch(before, after, destination, line.break_on_error ? 1 : line.jobs, &progress);
    if (depfile) {
        kam::DiskFileSystem& disk = kam::default_disk_file_system();
        kam::Depfile rule(disk.spelled_path(destination));
        rule.add(disk.spelled_path(pre));
        rule.add(disk.spelled_path(post));
        rule.write(destination + ".d");
    }
    return 0;
}
