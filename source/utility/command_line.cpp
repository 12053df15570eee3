// Flag and argument parsing shared by every command.
#include "utility/command_line.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

#include "utility/output_streams.h"
#include "utility/platform/threads.h"

CommandLine* CommandLine::current = nullptr;

namespace {

// A short-flag group: "-x..." but not "--...".
bool is_short_group(const std::string& argument) {
    return argument.size() >= 2 && argument[0] == '-' && argument[1] != '-';
}

// As many jobs as the hardware runs threads, up to the most -j takes.
int default_jobs() {
    return std::min(256, kam::platform::hardware_threads());
}

// A whole number from 1 to 256, nothing around it; 0 for anything else. Each job may hold two
// temporaries, and an interrupt removes at most max_temporaries of them.
int parse_jobs(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int jobs = std::stoi(text);
    return jobs >= 1 && jobs <= 256 ? jobs : 0;
}

}  // namespace

CommandLine::CommandLine(int count, const char* const* arguments, std::string value_letters)
    : value_letters_(std::move(value_letters)) {
    current = this;
    for (int i = 1; i < count; ++i)
        arguments_.emplace_back(arguments[i]);
    take_global_flags();
}

CommandLine::CommandLine(std::vector<std::string> arguments, std::string value_letters)
    : arguments_(std::move(arguments)), value_letters_(std::move(value_letters)) {
    current = this;
    take_global_flags();
}

CommandLine::~CommandLine() {
    if (current == this)
        current = nullptr;
}

void CommandLine::take_global_flags() {
    while (has_flag('v', "verbose"))
        ++verbosity;
    break_on_error = has_flag('b', "break-on-error");
    wait_when_done = has_flag('w', "wait-when-done");
    jobs_text = flag_value('j', "jobs");
    jobs = jobs_text.empty() ? default_jobs() : parse_jobs(jobs_text);
    // Every message is flushed as it is written, so nothing is lost if the process dies.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

size_t CommandLine::find_letter(const std::string& group, char letter) const {
    // The first letter that takes a value owns the rest of the group: "-Dout/bv" holds no -b or -v.
    for (size_t position = 1; position < group.size(); ++position) {
        if (group[position] == letter)
            return position;
        if (value_letters_.find(group[position]) != std::string::npos)
            break;
    }
    return std::string::npos;
}

bool CommandLine::has_flag(char letter, const std::string& name) {
    const std::string long_form = "--" + name;
    for (auto it = arguments_.begin(); it != arguments_.end(); ++it) {
        if (is_short_group(*it)) {
            const size_t position = find_letter(*it, letter);
            if (position != std::string::npos) {
                it->erase(position, 1);
                if (*it == "-")
                    arguments_.erase(it);
                return true;
            }
        }
        if (*it == long_form) {
            arguments_.erase(it);
            return true;
        }
    }
    return false;
}

std::string CommandLine::flag_value(char letter, const std::string& name) {
    const std::string long_form = "--" + name;
    for (size_t i = 0; i < arguments_.size(); ++i) {
        std::string& argument = arguments_[i];
        const bool last = i + 1 == arguments_.size();
        if (is_short_group(argument)) {
            const size_t position = find_letter(argument, letter);
            // A letter at the end of the last argument has no value to take.
            if (position != std::string::npos && !(last && position + 1 == argument.size())) {
                std::string value;
                if (position + 1 < argument.size()) {
                    value = argument.substr(position + 1);
                    argument.erase(position);
                } else {
                    value = arguments_[i + 1];
                    arguments_.erase(arguments_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                    argument.erase(position, 1);
                }
                if (arguments_[i] == "-")
                    arguments_.erase(arguments_.begin() + static_cast<std::ptrdiff_t>(i));
                return value;
            }
        }
        if (argument.size() > long_form.size() &&
            argument.compare(0, long_form.size(), long_form) == 0 &&
            argument[long_form.size()] == '=') {
            std::string value = argument.substr(long_form.size() + 1);
            arguments_.erase(arguments_.begin() + static_cast<std::ptrdiff_t>(i));
            return value;
        }
        if (argument == long_form && !last) {
            std::string value = arguments_[i + 1];
            arguments_.erase(arguments_.begin() + static_cast<std::ptrdiff_t>(i),
                             arguments_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            return value;
        }
    }
    return std::string();
}

std::vector<std::string> CommandLine::flag_values(char letter, const std::string& name) {
    std::vector<std::string> values;
    for (std::string value = flag_value(letter, name); !value.empty();
         value = flag_value(letter, name)) {
        values.push_back(value);
    }
    return values;
}

void CommandLine::report_unknown_flags() {
    for (size_t i = 0; i < arguments_.size();) {
        if (!arguments_[i].empty() && arguments_[i][0] == '-') {
            const std::string flag = arguments_[i];
            arguments_.erase(arguments_.begin() + static_cast<std::ptrdiff_t>(i));
            error_stream << "Unknown flag " << flag << " use -h for help" << std::endl;
        } else {
            ++i;
        }
    }
}

std::string CommandLine::argument(size_t index) const {
    return index < arguments_.size() ? arguments_[index] : std::string();
}

std::string CommandLine::take_argument(size_t index) {
    if (index >= arguments_.size())
        return std::string();
    std::string value = std::move(arguments_[index]);
    arguments_.erase(arguments_.begin() + static_cast<std::ptrdiff_t>(index));
    return value;
}
