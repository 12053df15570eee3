// The compile-xml command: writes the binary form (.xmb) beside each listed XML file.
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "utility/command_line.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/job_queue.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"
#include "xml/xml_binary.h"
#include "xml/xml_document.h"

// With -a, the errors of the files found in listed directories, printed after each directory;
// only the thread that releases the jobs touches it.
std::ostringstream error_collector;

namespace {

const char* const help_lines[] = {
    "trovex compile-xml [options] file1 [file2] ... ",
    "",
    "    -m, --only-if-modified  Only recompile if .xml is modified.",
    "    -r, --root [dir]        Specify root directory, this is needed for xinclude compilation.",
    "    -a, --report-all        Report all errors and do not stop on first error.",
    "",
    "Compiles the listed .xml files into .xml.bin files.",
    "If a directory is listed, all the xml-files in the directory are compiled.",
};

bool is_xml_file(const std::string& path) {
    return kam::extension(path) == ".xml";
}

// Writes the binary form of a file that parses; one that does not keeps its old binary form,
// which is older than the edited text and so still stale. Throws XMLParseError for a file that
// does not parse and for includes that could not be taken in (the binary form is written then).
void compile_xml_file(const std::string& path) {
    kam::XMLDocument document;
    if (!document.load_text(path))
        throw kam::XMLParseError(document.failure);
    std::string failed;
    for (const std::string& failure : document.failed_includes)
        failed += (failed.empty() ? "" : "\n") + failure;
    if (!failed.empty())
        throw kam::XMLParseError(failed);
}

bool binary_up_to_date(const std::string& path) {
    kam::VirtualFileSystem& files = kam::VirtualFileSystem::instance();
    const std::string binary_path = kam::binary_xml_path(path);
    return files.exists(binary_path) &&
           files.modification_time(binary_path) >= files.modification_time(path);
}

struct CompileOptions {
    bool only_if_modified;
    bool report_all;
};

// One file as a job. Messages go out at the job's release: a job before it may write this file's
// binary form while including it, and a sequential run would then have found it up to date.
// Failures of a listed file other than parse errors end the command; a walked file reports all.
void compile_xml_job(const std::string& path, const CompileOptions& options, bool walked) {
    auto skipped = std::make_shared<bool>(false);
    std::string error;
    try {
        if (options.only_if_modified && binary_up_to_date(path))
            return;
        kam::JobQueue::on_release(
            [path, skipped, options] {
                try {
                    *skipped = options.only_if_modified && binary_up_to_date(path);
                } catch (const std::runtime_error&) {
                    // Asked a moment ago without failing: the job's own result stands.
                }
                if (!*skipped)
                    log_verbose << "Compiling " << path << std::endl;
            },
            [] {});
        compile_xml_file(path);
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
    const bool collect = walked && options.report_all;
    kam::JobQueue::on_release(
        [error, skipped, collect] {
            if (*skipped)
                return;
            if (collect) {
                if (!error_collector.str().empty())
                    error_collector << "ERROR: ";
                error_collector << error << "\n";
            } else {
                error_stream << error << std::endl;
            }
        },
        [] {});
}

// The walk stays on this thread: it hands out the files in the order a sequential run takes them.
void compile_xml_tree(const std::string& directory, const CompileOptions& options,
                      kam::JobQueue& queue) {
    kam::VirtualFileSystem& files = kam::VirtualFileSystem::instance();
    std::vector<std::string> names, directories;
    files.list(directory, "*.*", false, names);
    files.list(directory, "*.*", true, directories);
    const std::string prefix = kam::normalize_path(directory, true, false);
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        if (is_xml_file(path))
            queue.add([path, &options] { compile_xml_job(path, options, true); });
    }
    for (const std::string& name : directories) {
        compile_xml_tree(prefix + name, options, queue);
    }
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
    const CompileOptions options{only_if_modified, report_all};

    // Ends before the mount: its jobs use the disk.
    kam::JobQueue queue(command_line.break_on_error ? 1 : command_line.jobs);
    const std::vector<std::string> arguments = command_line.arguments();
    for (const std::string& argument : arguments) {
        const std::string path = kam::make_relative(root, kam::make_absolute(argument));
        if (!files.exists(path)) {
            report_in_order(queue, "Source file doesn't exist " + path);
        } else if (files.is_dir(path)) {
            compile_xml_tree(path, options, queue);
            if (report_all) {
                queue.add([] {
                    kam::JobQueue::on_release(
                        [] {
                            if (!error_collector.str().empty())
                                error_stream << error_collector.str() << std::endl;
                        },
                        [] {});
                });
            }
        } else if (is_xml_file(argument)) {
            // The extension as the user spelled it: the path is lower case by now.
            queue.add([path, &options] { compile_xml_job(path, options, false); });
        } else {
            report_in_order(queue, path + " is not an xml file");
        }
    }
    queue.finish();
    return 0;
}
