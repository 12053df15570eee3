// The merge-logs command: one ordering of files for several load logs.
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/log_merger.h"
#include "commands.h"
#include "utility/command_line.h"

namespace {

const char* const help_lines[] = {
    "trovex merge-logs merged_log log1 [log2] ... ",
    "",
    ("    -g, --genetic [seconds]   If specified trovex will use genetic merge algorithm and work "
     "for specified amounts of seconds."),
    "",
    "Merges the specified logs into merged_log.",
};

}  // namespace

int merge_logs_command() {
    CommandLine& command_line = *CommandLine::current;
    const std::string first = command_line.argument(0);
    if (printed_usage(first, help_lines))
        return 1;
    const std::string genetic = command_line.flag_value('g', "genetic");
    command_line.report_unknown_flags();

    const std::string merged_log = command_line.take_argument(0);
    std::vector<std::string> source_logs;
    for (std::string log = command_line.take_argument(0); !log.empty();
         log = command_line.take_argument(0)) {
        source_logs.push_back(log);
    }
    if (merged_log.empty() || source_logs.empty()) {
        std::puts(
            "A target log and at least one source log must be specified. Supply flag -h for help.");
        return 1;
    }

    std::optional<std::int32_t> search_seconds;
    if (!genetic.empty()) {
        search_seconds = kam::search_seconds(genetic);
        // A value that is no number is most likely a log taken as the value.
        if (!search_seconds)
            throw std::runtime_error("-g takes a number of seconds, not " + genetic);
    }
    kam::merge_load_logs(merged_log, source_logs, search_seconds);
    return 0;
}
