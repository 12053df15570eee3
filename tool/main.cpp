// The entry point: banner, global flags, command table, guarded dispatch and framed errors.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "commands.h"
#include "crash_report.h"
#include "diagnostics/thread_manager.h"
#include "utility/command_line.h"
#include "utility/output_streams.h"
#include "utility/platform/interrupts.h"
#include "utility/platform/memory.h"
#include "utility/virtual_file_system.h"
#include "version.h"

namespace {

struct Command {
    const char* word;
    int (*handler)();
    const char* value_letters;  // the command's short flags that take a value
};

const Command commands[] = {
    {"compile-scripts", compile_scripts_command, "j"},
    {"compile-xml", compile_xml_command, "jr"},
    {"merge-logs", merge_logs_command, "jg"},
    {"bundle", bundle_command, "jrfneFDpa"},
    {"quick-bundle", quick_bundle_command, "jrfneFDpa"},
    {"make-patch", make_patch_command, "j"},
    {"list", list_command, "jW"},
    {"extract", extract_command, "j"},
};

// How many arguments the global flags at argv[i] take up: 0 when it is no global flag, 2 when
// it is -j or --jobs with its value in the next argument.
int global_flag_length(int argc, const char* const* argv, int i) {
    const std::string argument = argv[i];
    const int with_value = i + 1 < argc ? 2 : 1;
    if (argument == "--verbose" || argument == "--break-on-error" ||
        argument == "--wait-when-done" || argument.rfind("--jobs=", 0) == 0)
        return 1;
    if (argument == "--jobs")
        return with_value;
    if (argument.size() < 2 || argument[0] != '-' || argument[1] == '-')
        return 0;
    for (size_t position = 1; position < argument.size(); ++position) {
        if (argument[position] == 'j')
            return position + 1 == argument.size() ? with_value : 1;
        if (std::string_view("vbw").find(argument[position]) == std::string_view::npos)
            return 0;
    }
    return 1;
}

// Where the command word stands: the first argument after the global flags (argc when none).
int command_position(int argc, const char* const* argv) {
    int i = 1;
    while (i < argc) {
        const int length = global_flag_length(argc, argv, i);
        if (length == 0)
            break;
        i += length;
    }
    return i;
}

// The value flags of the command the arguments name, looked up before the global flags are
// taken, so that no global flag is taken out of a value.
std::string value_letters_of(int argc, const char* const* argv) {
    const int i = command_position(argc, argv);
    for (const Command& command : commands) {
        if (i < argc && command.word == std::string(argv[i]))
            return command.value_letters;
    }
    return "j";
}

bool asks_for_version(int argc, const char* const* argv) {
    const int i = command_position(argc, argv);
    return i < argc && std::string_view(argv[i]) == "--version";
}

// list --json prints nothing but its JSON, so that tools can read standard output whole.
bool prints_json(int argc, const char* const* argv) {
    const int i = command_position(argc, argv);
    if (i == argc || std::string_view(argv[i]) != "list")
        return false;
    return std::any_of(argv + i + 1, argv + argc,
                       [](const char* argument) { return std::string_view(argument) == "--json"; });
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
    "    -j, --jobs N           Run N jobs at once (default: the hardware's threads).",
    "        --version          Print the version and exit.",
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
            if (word == command.word)
                return command.handler();
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

bool asks_for_help(const std::string& first) {
    return first.empty() || first == "-h" || first == "--help";
}

bool printed_usage(const std::string& first, std::span<const char* const> lines) {
    if (!asks_for_help(first))
        return false;
    for (const char* line : lines)
        std::puts(line);
    return true;
}

int main(int argc, char** argv) {
    // Without the banner: scripts read the version from the first line.
    if (asks_for_version(argc, argv)) {
        std::cout << TROVEX_VERSION_TEXT << std::endl;
        return 0;
    }
    if (!prints_json(argc, argv)) {
        std::cout << "trovex - content build and packaging tool" << std::endl;
        std::cout << std::endl;
    }

    kam::platform::keep_freed_heap_memory();
    auto crash_handler = std::make_unique<kam::ThreadManager>("trovex", report_crash);
    // Ctrl-C and the like take the run's unfinished outputs with them.
    kam::platform::remove_temporaries_on_interrupt();
    auto command_line = std::make_unique<CommandLine>(argc, argv, value_letters_of(argc, argv));
    // Reached by the commands as VirtualFileSystem::instance(); destroyed before the command line.
    auto file_system = std::make_unique<kam::VirtualFileSystem>();

    if (command_line->jobs == 0) {
        print_framed_error("-j takes a number of jobs from 1 to 256, not " +
                           command_line->jobs_text);
        return 1;
    }

    std::string word = command_line->take_argument(0);
    if (printed_usage(word, usage_lines))
        return 0;

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
