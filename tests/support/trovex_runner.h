// Runs the built trovex binary in a fresh temporary directory and captures what it does.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace test {

// All the bytes of a file; empty when missing.
std::string read_file(const std::filesystem::path& path);

struct RunResult {
    std::string output;  // standard output, exactly
    int exit_code = -1;
};

// A temporary directory that is removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file (creating its directories) relative to the directory.
    void write(const std::string& relative, const std::string& content) const;
    // Reads a file relative to the directory; empty when missing.
    std::string read(const std::string& relative) const { return read_file(path_ / relative); }
    bool exists(const std::string& relative) const {
        return std::filesystem::exists(path_ / relative);
    }

private:
    std::filesystem::path path_;
};

// Every entry below root, links not followed: a file's content, "/" for a directory, "-> target"
// for a link.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root);

// Runs trovex (or another program of the build) with the arguments in the directory, feeding
// standard input; throws when it does not exit by itself.
RunResult run_trovex(const std::filesystem::path& directory,
                     const std::vector<std::string>& arguments,
                     const std::string& standard_input = std::string(),
                     const std::string& program = TROVEX_BINARY);

// Packs the tree at root into bundle (and its listing) with quick-bundle; true when it succeeds.
bool quick_bundle(const std::filesystem::path& root, const std::filesystem::path& bundle);

// The text as the tool spells paths: lower-case ASCII, backslashes.
std::string canonical(std::string text);

// The banner and the empty line every run starts with.
std::string banner();

// A load log as the game records it, one line per path.
std::string recorded_log(const std::vector<std::string>& paths);

// "ERROR: " + text framed by two lines of 70 dashes.
std::string framed(const std::string& text);

}  // namespace test
