// The arguments not consumed yet and the global flags taken from them.
#pragma once

#include <string>
#include <vector>

class CommandLine {
public:
    // Copies arguments 1..count-1 and takes the global flags -v, -b and -w out of them.
    CommandLine(int count, const char* const* arguments);
    explicit CommandLine(std::vector<std::string> arguments);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Removes one occurrence of -letter (possibly combined with others) or --name.
    bool has_flag(char letter, const std::string& name);
    // Removes one occurrence of the flag and its value; empty when not found.
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

    static CommandLine* current;

private:
    void take_global_flags();

    std::vector<std::string> arguments_;
};
