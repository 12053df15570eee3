// The entry point: banner, global flags, command table, guarded dispatch and framed errors.
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "crash_report.h"
#include "diagnostics/thread_manager.h"
#include "utility/command_line.h"
#include "utility/output_streams.h"
#include "utility/platform/interrupts.h"
#include "utility/virtual_file_system.h"

namespace {

struct Command {
    const char* word;
    int (*handler)();
    const char* value_letters;  // the command's short flags that take a value
};

const Command commands[] = {
    {"compile-scripts", compile_scripts_command, ""},
    {"compile-xml", compile_xml_command, "r"},
    {"merge-logs", merge_logs_command, "g"},
    {"bundle", bundle_command, "rfneFDpa"},
    {"quick-bundle", quick_bundle_command, "rfneFDpa"},
    {"make-patch", make_patch_command, ""},
    {"list", list_command, "W"},
    {"extract", extract_command, ""},
};

bool is_global_flag(const std::string& argument) {
    if (argument == "--verbose" || argument == "--break-on-error" || argument == "--wait-when-done")
        return true;
    return argument.size() >= 2 && argument[0] == '-' && argument[1] != '-' &&
           argument.find_first_not_of("vbw", 1) == std::string::npos;
}

// The value flags of the command the arguments name, looked up before the global flags are
// taken, so that no global flag is taken out of a value.
std::string value_letters_of(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (is_global_flag(argv[i]))
            continue;
        for (const Command& command : commands) {
            if (command.word == std::string(argv[i]))
                return command.value_letters;
        }
        break;
    }
    return std::string();
}

const char* const usage_lines[] = {
    "trovex [global-flags] command [command-flags]",
    "",
    "Global flags:",
    "",
    "    -h, --help             Print this help text.",
    "    -b, --break-on-error   Break on error.",
    "    -v, --verbose          Print more detailed information.",
    "    -w, --wait-when-done   Wait when compile is done.",
    "",
    "Commands:",
    "",
    "    compile-scripts        Compile script files.",
    "    compile-xml            Compile xml files.",
    "    merge-logs             Merge load logs.",
    "    bundle                 Create file bundle from file log.",
    "    quick-bundle           Create file bundle from directory.",
    "    make-patch             Compare two bundles and create a patch.",
    "    list                   List contents of a bundle.",
    "    extract                Extract contents from a bundle.",
    "",
    "Use:",
    "",
    "    trovex [command] -h",
    "",
    "to get help for individual commands.",
};

int run_command(const std::string& word) {
    try {
        for (const Command& command : commands) {
            if (word == command.word) return command.handler();
        }
        error_stream << "Unknown command " << word << " -- use -h for help." << std::endl;
        return 1;
    } catch (const TrovexError&) {
        // Already printed when the error stream threw it.
        error_stream.reset();
        return 1;
    } catch (const std::runtime_error& error) {
        print_framed_error(error.what());
        return 1;
    } catch (...) {
        print_framed_error("unknown error");
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::cout << "trovex - content build and packaging tool" << std::endl;
    std::cout << std::endl;

    auto crash_handler = std::make_unique<kam::ThreadManager>("trovex", report_crash);
    // Ctrl-C and the like take the run's unfinished outputs with them.
    kam::platform::remove_temporaries_on_interrupt();
    auto command_line = std::make_unique<CommandLine>(argc, argv, value_letters_of(argc, argv));
    // Reached by the commands as VirtualFileSystem::instance(); destroyed before the command line.
    auto file_system = std::make_unique<kam::VirtualFileSystem>();

    std::string word = command_line->take_argument(0);
    if (word.empty() || word == "-h" || word == "--help") {
        for (const char* line : usage_lines) std::puts(line);
        return 0;
    }

    int exit_code = run_command(word);
    // A command that reported an error and went on has still failed.
    if (exit_code == 0 && error_stream.errors_reported() > 0)
        exit_code = 1;

    if (command_line->wait_when_done) {
        std::cout << std::string(60, '-') << '\n' << "Press return to exit." << '\n' << std::flush;
        std::string line;
        std::getline(std::cin, line);
    }

    crash_handler.reset();
    word.clear();
    file_system.reset();
    command_line.reset();
    return exit_code;
}
