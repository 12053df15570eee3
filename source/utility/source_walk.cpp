// Walking trees of sources and collecting their errors.
#include "utility/source_walk.h"

#include <vector>

#include "utility/job_queue.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"

namespace kam {

void walk_sources(VirtualFileSystem& files, const std::string& directory,
                  std::string_view extension,
                  const std::function<void(const std::string&)>& visit) {
    const std::string prefix = normalize_path(directory, true, false);
    std::vector<std::string> names, directories;
    files.list_both(directory, "*.*", names, directories);
    for (const std::string& name : names) {
        if (kam::extension(name) == extension)
            visit(concat(prefix, name));
    }
    for (const std::string& name : directories)
        walk_sources(files, concat(prefix, name), extension, visit);
}

std::uint64_t count_sources(VirtualFileSystem& files, std::string_view extension,
                            const std::function<std::string(const std::string&)>& path_of,
                            const std::vector<std::string>& arguments) {
    std::uint64_t count = 0;
    for (const std::string& argument : arguments) {
        const std::string path = path_of(argument);
        if (files.is_dir(path))
            walk_sources(files, path, extension, [&count](const std::string&) { ++count; });
        else if (kam::extension(argument) == extension && files.exists(path))
            ++count;
    }
    return count;
}

void CollectedErrors::add_on_release(std::string message) {
    JobQueue::on_release(
        [this, message = std::move(message)] {
            if (text_.tellp() > 0)
                text_ << "ERROR: ";
            text_ << message << '\n';
        },
        [] {});
}

void CollectedErrors::print_on_release(std::string_view end) {
    JobQueue::on_release(
        [this, end] {
            if (text_.tellp() > 0)
                error_stream << text_.str() << end << std::flush;
        },
        [] {});
}

}  // namespace kam
