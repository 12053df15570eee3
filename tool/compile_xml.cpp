// The compile-xml command: writes the binary form (.xmb) beside each listed XML file.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "utility/command_line.h"
#include "utility/depfile.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/job_queue.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/progress.h"
#include "utility/source_walk.h"
#include "utility/virtual_file_system.h"
#include "xml/xml_binary.h"
#include "xml/xml_document.h"
#include "xml/xml_freshness.h"

namespace {

const char* const help_lines[] = {
    "trovex compile-xml [options] file1 [file2] ... ",
    "",
    "    -m, --only-if-modified  Only recompile if .xml is modified.",
    "    -r, --root [dir]        Specify root directory, this is needed for xinclude compilation.",
    "    -a, --report-all        Report all errors and do not stop on first error.",
    "        --depfile           Write a make dependency file NAME.xmb.d beside each .xmb.",
    "",
    "Compiles the listed .xml files into .xml.bin files.",
    "If a directory is listed, all the xml-files in the directory are compiled.",
};

bool is_xml_file(const std::string& path) {
    return kam::extension(path) == ".xml";
}

struct CompileOptions {
    bool only_if_modified;
    bool report_all;
    bool depfile;
    // Where the files lie, to name them in dependency files.
    const kam::DiskFileSystem& disk;
    kam::Progress* progress;
    // With -a, the errors of the files found in listed directories, printed after each one.
    kam::CollectedErrors& collected;
};

kam::BinaryOutput binary_output(const std::string& path, const kam::DiskFileSystem& disk) {
    const std::string binary = kam::binary_xml_path(path);
    const std::string target = disk.spelled_path(binary);
    return {binary, target, target + ".d"};
}

// The source and every file the load read, missing includes too: they must rebuild it once they
// appear.
void write_depfile(const kam::XMLDocument& document, const std::string& path,
                   const kam::DiskFileSystem& disk) {
    const kam::BinaryOutput output = binary_output(path, disk);
    kam::Depfile depfile(output.target);
    depfile.add(disk.spelled_path(path));
    for (const std::string& dependency : document.dependencies)
        depfile.add(disk.spelled_path(kam::normalize_path(dependency, false, false)));
    depfile.write(output.depfile);
}

// Writes the binary form of a file that parses, and its dependency file after it; one that does
// not keeps its old binary form, which is older than the edited text and so still stale. Throws
// XMLParseError for a file that does not parse and for includes that could not be taken in (the
// binary form is written then).
void compile_xml_file(const std::string& path, const CompileOptions& options) {
    kam::XMLDocument document;
    if (!document.load_text(path))
        throw kam::XMLParseError(document.failure);
    if (options.depfile)
        write_depfile(document, path, options.disk);
    std::string failed;
    for (const std::string& failure : document.failed_includes)
        failed += (failed.empty() ? "" : "\n") + failure;
    if (!failed.empty())
        throw kam::XMLParseError(failed);
}

// With --depfile, a binary counts as up to date only with its own dependency file beside it, so
// that every output has one after the run.
bool binary_up_to_date(const std::string& path, const CompileOptions& options) {
    const kam::BinaryState state = kam::binary_state(kam::VirtualFileSystem::instance(), path,
                                                     binary_output(path, options.disk));
    return state == kam::BinaryState::up_to_date ||
           (state == kam::BinaryState::up_to_date_scanned && !options.depfile);
}

// One file as a job. With -m, a job before it may write this file's binary form while including
// it, and a sequential run would then have found it up to date: the job is run again in its turn
// if so. Failures of a listed file other than parse errors end the command; a walked file reports
// all.
void compile_xml_job(const std::string& path, const CompileOptions& options, bool walked) {
    std::string error;
    try {
        if (options.only_if_modified) {
            if (binary_up_to_date(path, options))
                return;
            kam::JobQueue::redo_if([path, &options] { return binary_up_to_date(path, options); });
        }
        log_verbose << "Compiling " << path << std::endl;
        compile_xml_file(path, options);
    } catch (const TrovexError&) {
        throw;  // printed already; -b ends the command
    } catch (const kam::XMLParseError& parse_error) {
        error = parse_error.what();
    } catch (const std::runtime_error& other) {
        if (!walked)
            throw;
        error = other.what();
    }
    if (error.empty())
        return;
    if (!(walked && options.report_all)) {
        error_stream << error << std::endl;
        return;
    }
    options.collected.add_on_release(error);
}

void add_xml_job(kam::JobQueue& queue, const std::string& path, const CompileOptions& options,
                 bool walked) {
    queue.add([path, &options, walked] {
        compile_xml_job(path, options, walked);
        // Counted at release: a job run again in its turn must count once.
        kam::JobQueue::on_release([&options] { options.progress->advance(1, 0); }, [] {});
    });
}

// A message in its place among the jobs' messages.
void report_in_order(kam::JobQueue& queue, const std::string& message) {
    queue.add([message] { error_stream << message << std::endl; });
}

}  // namespace

int compile_xml_command() {
    CommandLine& command_line = *CommandLine::current;
    const std::string first = command_line.argument(0);
    if (printed_usage(first, help_lines))
        return 1;
    const bool only_if_modified = command_line.has_flag('m', "only-if-modified");
    const bool report_all = command_line.has_flag('a', "report-all");
    const bool depfile = command_line.has_flag('\0', "depfile");
    std::string root = command_line.flag_value('r', "root");
    command_line.report_unknown_flags();

    kam::VirtualFileSystem& files = kam::VirtualFileSystem::instance();
    kam::DiskFileSystem disk(root);
    const kam::ScopedMount mounted("/", &disk, false);
    root = kam::make_absolute(root);
    // Set before any job starts; the loads of every job read them.
    kam::xml_write_binary = true;
    kam::xml_check_dependencies = true;
    kam::xml_catch_parse_errors = true;
    kam::Progress progress = kam::standard_error_progress(command_line.verbosity);
    kam::CollectedErrors collected;
    const CompileOptions options{only_if_modified, report_all, depfile, disk, &progress, collected};

    // Ends before the mount: its jobs use the disk.
    kam::JobQueue queue(command_line.break_on_error ? 1 : command_line.jobs);
    const std::vector<std::string> arguments = command_line.arguments();
    // The argument as a path below the root.
    const auto below_root = [&root](const std::string& argument) {
        return kam::make_relative(root, kam::make_absolute(argument));
    };
    if (progress.shown())
        progress.start(kam::count_sources(files, ".xml", below_root, arguments), 0);
    for (const std::string& argument : arguments) {
        const std::string path = below_root(argument);
        if (!files.exists(path)) {
            report_in_order(queue, "Source file doesn't exist " + path);
        } else if (files.is_dir(path)) {
            // The walk stays on this thread: it hands out the files in the order a sequential
            // run takes them.
            kam::walk_sources(files, path, ".xml", [&](const std::string& file) {
                add_xml_job(queue, file, options, true);
            });
            if (report_all)
                queue.add([&collected] { collected.print_on_release("\n"); });
        } else if (is_xml_file(argument)) {
            // The extension as the user spelled it: the path is lower case by now.
            add_xml_job(queue, path, options, false);
        } else {
            report_in_order(queue, path + " is not an xml file");
        }
    }
    queue.finish();
    return 0;
}
