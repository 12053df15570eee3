// The list command: prints a bundle's directory as a tree or flat.
#include <cstdio>
#include <iostream>
#include <string>

#include "bundle/bundle_index.h"
#include "bundle/bundle_listing.h"
#include "commands.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"

namespace {

const char* const usage_lines[] = {
    "trovex list [options] bundle [subdir]",
    "",
    "    -r, --recursive            If specified all subdirectories will be listed as well.",
    "    -f, --flat                 If specified the full path will be displayed for each file.",
    "    -W, --width width          The width of each line of output in characters.",
    "        --json                 Print the entries as one JSON array, without the banner.",
    "",
    "Lists the contents of a bundle file.",
};

}  // namespace

int list_command() {
    CommandLine& line = *CommandLine::current;
    const std::string first = line.argument(0);
    if (printed_usage(first, usage_lines))
        return 1;
    const bool recursive = line.has_flag('r', "recursive");
    const bool flat = line.has_flag('f', "flat");
    // No letter: has_flag needs one, and no short group holds a NUL.
    const bool json = line.has_flag('\0', "json");
    const int width = kam::list_width(line.flag_value('W', "width"));
    line.report_unknown_flags();
    const std::string bundle = line.argument(0);
    const std::string given = line.argument(1);
    const std::string subdirectory = given.empty() ? std::string("\\") : given;

    kam::BundleIndex index;
    index.load(kam::default_disk_file_system().open(bundle, "r"));
    kam::BundleLister lister(index, width, std::cout);
    if (json) {
        lister.list_json(subdirectory, recursive);
    } else if (flat) {
        lister.list_flat(subdirectory, recursive);
    } else {
        lister.list_tree(subdirectory, recursive);
    }
    return 0;
}
