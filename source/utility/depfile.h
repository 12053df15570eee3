// Dependency files: the files an output was built from, as one make rule that make and ninja read.
//
// The file holds "TARGET: INPUT INPUT ...", one input per line after a backslash, and a line end.
// Names are escaped as C compilers' -MD writes them: a space or tab gets a backslash and the
// backslashes right before it are doubled, '#' gets a backslash, '$' is doubled; other
// backslashes stay as they are. Paths are spelled as the system names them
// (platform::spelled_path), so that the build tool can look them up.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kam {

// One output's dependency file, its inputs in the order added, each once.
class Depfile {
public:
    explicit Depfile(std::string target) : target_(std::move(target)) {}

    void add(const std::string& input);
    const std::string& target() const { return target_; }
    const std::vector<std::string>& inputs() const { return inputs_; }

    std::string text() const;
    // Writes the text to path as a temporary that takes its place when the job writing it is
    // released (JobQueue::on_release; at once outside a job), after the outputs written before.
    // Throws DiskError naming path.
    void write(const std::string& path) const;

    // The first rule of a dependency file's text; false when there is none. Reads escapes as make
    // does, and line continuations.
    static bool parse(std::string_view text, Depfile& rule);
    // parse of the file at path (a native path); false when it is missing or holds no rule.
    // Throws the disk layer's errors for a file that cannot be read.
    static bool read(const std::string& path, Depfile& rule);

private:
    std::string target_;
    std::vector<std::string> inputs_;
    std::unordered_set<std::string> added_;
};

// The name escaped for a make rule.
std::string make_escaped(std::string_view name);

}  // namespace kam
