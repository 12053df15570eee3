// The arguments not consumed yet and the global flags taken from them.
#pragma once

#include <string>
#include <vector>

class CommandLine {
public:
    // Copies arguments 1..count-1 and takes the global flags -v, -b and -w out of them.
    // value_letters are the command's flags that take a value: in a short-flag group the first
    // of them takes the rest of the group (or the next argument) as its value.
    CommandLine(int count, const char* const* arguments, std::string value_letters = {});
    explicit CommandLine(std::vector<std::string> arguments, std::string value_letters = {});
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Removes one occurrence of -letter (possibly combined with others) or --name.
    bool has_flag(char letter, const std::string& name);
    // Removes one occurrence of the flag and its value (-xVALUE, -x VALUE, --name VALUE or
    // --name=VALUE); empty when not found.
    std::string flag_value(char letter, const std::string& name);
    // Collects flag_value results until one is empty.
    std::vector<std::string> flag_values(char letter, const std::string& name);
    // Reports and removes every remaining argument that begins with "-".
    void report_unknown_flags();
    // The remaining argument at index, or empty; argument keeps it, take_argument removes it.
    std::string argument(size_t index) const;
    std::string take_argument(size_t index);

    const std::vector<std::string>& arguments() const { return arguments_; }

    int verbosity = 0;
    bool break_on_error = false;
    bool wait_when_done = false;
    // -j/--jobs: how many jobs may run at once; the hardware's threads when not given, 0 when
    // the value given (jobs_text) is no whole number from 1 to 256.
    int jobs = 1;
    std::string jobs_text;

    static CommandLine* current;

private:
    void take_global_flags();
    // Where the letter stands in a short-flag group before any value begins; npos when not there.
    size_t find_letter(const std::string& group, char letter) const;

    std::vector<std::string> arguments_;
    std::string value_letters_;
};
