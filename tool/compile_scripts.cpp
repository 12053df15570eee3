// The compile-scripts command: compiles the listed sources and directories into compiled scripts.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "script/script_batch.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/job_queue.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/progress.h"
#include "utility/source_walk.h"
#include "utility/virtual_file_system.h"

namespace {

const char* const usage_lines[] = {
    "trovex compile-scripts [options] file1 [file2] ... ",
    "",
    "    -s, --strip             Strip debug info.",
    "    -m, --only-if-modified  Only recompile if .ksf is modified.",
    "    -a, --report-all        Report all errors and do not stop on first error.",
    "        --depfile           Write a make dependency file NAME.kxe.d beside each .kxe.",
    "",
    "Compiles the listed .ksf files into .kxe files.",
    "If a directory is listed, all the files in the directory are compiled.",
};

// The virtual file system drops leading separators, so an absolute argument is handed to it
// relative to the current directory.
std::string file_system_path(const std::string& argument) {
    const bool absolute = (!argument.empty() && kam::is_path_separator(argument[0])) ||
                          (argument.size() >= 2 && argument[1] == ':');
    if (!absolute)
        return argument;
    return kam::make_relative(kam::make_absolute("."), kam::make_absolute(argument));
}

}  // namespace

int compile_scripts_command() {
    CommandLine& command_line = *CommandLine::current;
    const std::string first = command_line.argument(0);
    if (printed_usage(first, usage_lines))
        return 1;
    const bool strip = command_line.has_flag('s', "strip");
    const bool only_if_modified = command_line.has_flag('m', "only-if-modified");
    const bool report_all = command_line.has_flag('a', "report-all");
    const bool depfile = command_line.has_flag('\0', "depfile");
    command_line.report_unknown_flags();

    kam::VirtualFileSystem& files = kam::VirtualFileSystem::instance();
    const kam::ScopedMount mounted("/", &kam::default_disk_file_system(), false);
    kam::Progress progress = kam::standard_error_progress(command_line.verbosity);
    kam::script::ScriptBatch batch(kam::script::ScriptBatch::mode_for(strip, only_if_modified),
                                   report_all, &progress);
    if (depfile)
        batch.write_depfiles(kam::default_disk_file_system());
    // Ends before the batch and the mount: its jobs use both.
    kam::JobQueue queue(command_line.break_on_error ? 1 : command_line.jobs);
    // Messages of the walk itself take their place among the jobs' messages.
    const auto report = [&queue](const std::string& message) {
        queue.add([message] { error_stream << message << std::endl; });
    };
    const std::vector<std::string> arguments = command_line.arguments();
    if (progress.shown())
        progress.start(kam::count_sources(files, ".ksf", file_system_path, arguments), 0);
    for (const std::string& argument : arguments) {
        const std::string path = file_system_path(argument);
        if (!files.exists(path)) {
            report("Source file doesn't exist " + argument);
        } else if (files.is_dir(path)) {
            batch.compile_directory(path, queue);
            if (report_all)
                queue.add([&batch] { batch.collected_errors().print_on_release(""); });
        } else if (kam::extension(argument) == ".ksf") {
            batch.add_file(path, argument, queue);  // a failure ends the command
        } else {
            report(argument + " is not a script file");
        }
    }
    queue.finish();
    return 0;
}
