// The bundle and quick-bundle commands: one handler, with a switch for the quick build.
#include <iostream>
#include <stdexcept>
#include <string>

#include "bundle/bundle_command.h"
#include "commands.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/progress.h"
#include "utility/virtual_file_system.h"

namespace {

// The options both commands take; bundle adds the log options.
const char* const common_options[] = {
    "    -r, --root dir             Specifies root directory (required).",
    "    -f, --ignore-file file     Skips specified file/dir when making bundle.",
    "    -n, --ignore-name name     Ignores any file with specified name.",
    "    -e, --ignore-ext ext       Ignore files with specified extension (e.g. .ksf).",
    "    -F, --force-file file      Forces specified file into bundle.",
    "    -D, --force-dest file      Forces resulting bundle to be output to specified file.",
    "    -m, --skip-missing         Skips creating entries for missing files",
};

// Usage lines stay whole, however long.
// clang-format off
const char* const log_options[] = {
    "    -p, --prepend-bundle file  Prepends the files logged in the file to the bundle.",
    "    -a, --append-bundle file   Appends the files logged in the file to the bundle.",
    "    -L, --log-union            Adds all files from root directory with filtering after file log.",
};
// clang-format on

// After the command's own options.
const char* const depfile_option =
    "        --depfile              Writes a make dependency file BUNDLE.d beside the bundle.";

const char* const bundle_description[] = {
    "Creates a bundle file from the specified file log. The bundle is stored in the",
    "bundles directory and is given the same name as the file log it was created",
    "from, unless -D was used.",
};

const char* const quick_bundle_description[] = {
    "Creates a quick bundle of the root directory. Bundles all the files in the",
    "directory except those who have been explicity ignored. The bundled data is",
    "stored in a file called quick.bundle, unless -D was used.",
};

int print_usage(bool quick) {
    std::cout << (quick ? "trovex quick-bundle [options]"
                        : "trovex bundle [options] file_log1 [file_log2] ...")
              << "\n\n";
    for (const char* line : common_options)
        std::cout << line << '\n';
    if (!quick) {
        for (const char* line : log_options)
            std::cout << line << '\n';
    }
    std::cout << depfile_option << "\n\n";
    if (quick) {
        for (const char* line : quick_bundle_description)
            std::cout << line << '\n';
    } else {
        for (const char* line : bundle_description)
            std::cout << line << '\n';
    }
    std::cout << std::flush;
    return 1;
}

int run_bundle_command(bool quick) {
    CommandLine& command_line = *CommandLine::current;
    const std::string first = command_line.argument(0);
    if (asks_for_help(first))
        return print_usage(quick);
    const std::string root = command_line.flag_value('r', "root");
    if (root.empty()) {
        error_stream << "No root directory specified." << std::endl;
        throw std::runtime_error("No root");
    }
    kam::BundleSettings settings;
    settings.root = kam::make_absolute(root);
    settings.prepend_log = command_line.flag_value('p', "prepend-bundle");
    settings.append_log = command_line.flag_value('a', "append-bundle");
    for (const std::string& file : command_line.flag_values('f', "ignore-file")) {
        settings.ignore_files.push_back(kam::make_absolute(kam::normalize_path(file, false, true)));
    }
    settings.ignore_names = command_line.flag_values('n', "ignore-name");
    settings.ignore_extensions = command_line.flag_values('e', "ignore-ext");
    settings.force_files = command_line.flag_values('F', "force-file");
    settings.log_union = command_line.has_flag('L', "log-union");
    settings.force_destination = command_line.flag_value('D', "force-dest");
    settings.skip_missing = command_line.has_flag('m', "skip-missing");
    settings.depfile = command_line.has_flag('\0', "depfile");
    settings.given_root = root;
    // Under break-on-error the first error must end the run before anything after it is done.
    settings.jobs = command_line.break_on_error ? 1 : command_line.jobs;
    command_line.report_unknown_flags();

    kam::Progress progress = kam::standard_error_progress(command_line.verbosity);
    settings.progress = &progress;
    kam::DiskFileSystem disk(settings.root);
    const kam::ScopedMount mounted("/", &disk, false);
    if (quick) {
        kam::build_quick_bundle(settings);
        return 0;
    }
    for (size_t index = 0; !command_line.argument(index).empty(); ++index) {
        settings.log_files.push_back(command_line.argument(index));
    }
    kam::build_file_log_bundles(settings);
    return 0;
}

}  // namespace

int bundle_command() {
    return run_bundle_command(false);
}

int quick_bundle_command() {
    return run_bundle_command(true);
}
