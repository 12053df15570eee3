// Compiling trees of sources as jobs: the walk in the order a sequential run takes the files,
// and the errors collected under report-all.
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace kam {

class VirtualFileSystem;

// Visits every file of the directory whose extension (as extension() gives it) is the one
// given, then each subdirectory in the same way. One listing for both kinds: compiling writes
// only files, so the subdirectories listed first are the ones a later listing would find.
void walk_sources(VirtualFileSystem& files, const std::string& directory,
                  std::string_view extension, const std::function<void(const std::string&)>& visit);

// How many files walk_sources visits under each argument that is a directory, plus the
// arguments that name an existing file of the extension: the progress line's total.
std::uint64_t count_sources(VirtualFileSystem& files, std::string_view extension,
                            const std::function<std::string(const std::string&)>& path_of,
                            const std::vector<std::string>& arguments);

// The errors of walked files under report-all, for the whole run: never emptied, so a later
// directory reports the earlier errors again with its own. Only the thread that releases jobs
// touches it, so both calls are made from inside a job.
class CollectedErrors {
public:
    // Adds the message when the running job is released.
    void add_on_release(std::string message);
    // Prints what was collected, then end, when the running job is released; nothing when
    // nothing was collected.
    void print_on_release(std::string_view end);

private:
    std::ostringstream text_;
};

}  // namespace kam
