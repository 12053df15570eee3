// Runs the built trovex binary as a user would: its own process, its own directory.
#include "support/trovex_runner.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "support/run_program.h"

namespace test {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    do {
        path_ = std::filesystem::temp_directory_path() /
                ("trovex-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& relative, const std::string& content) const {
    const auto target = path_ / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << content;
}

std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).generic_string();
        if (entry.is_symlink())
            entries[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[name] = "/";
        else
            entries[name] = read_file(entry.path());
    }
    return entries;
}

RunResult run_trovex(const std::filesystem::path& directory,
                     const std::vector<std::string>& arguments, const std::string& standard_input,
                     const std::string& program) {
    TempDir io;
    io.write("stdin", standard_input);
    // A run that hangs fails its test instead of stalling the whole suite.
    const int code =
        run_program(program, arguments, directory, io.path() / "stdin", io.path() / "stdout", 120);
    if (code == -1)
        throw std::runtime_error(program + " was killed or did not exit within 120 seconds");
    return {io.read("stdout"), code};
}

std::string banner() {
    return "trovex - content build and packaging tool\n\n";
}

std::string framed(const std::string& text) {
    const std::string dashes(70, '-');
    return dashes + "\n" + "ERROR: " + text + "\n" + dashes + "\n";
}

std::string recorded_log(const std::vector<std::string>& paths) {
    std::string log;
    for (const std::string& path : paths)
        log += "   <open path=\"" + path + "\" flags=\"r\" />\r\n";
    return log;
}

bool quick_bundle(const std::filesystem::path& root, const std::filesystem::path& bundle) {
    const std::filesystem::path absolute = std::filesystem::absolute(bundle);
    return run_trovex(absolute.parent_path(),
                      {"quick-bundle", "-r", std::filesystem::absolute(root).string(), "-D",
                       absolute.string()})
               .exit_code == 0;
}

std::string canonical(std::string text) {
    for (char& c : text)
        c = c == '/' ? '\\' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

}  // namespace test
