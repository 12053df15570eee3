// The patch comparison: two walks and a chunked comparison of contents.
#include "bundle/bundle_patch.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "utility/job_queue.h"
#include "utility/output_streams.h"

namespace kam {

namespace {

// Visits the path of every visible file, depth first from the root.
template <typename Visit>
void walk_files(FileSystem& fs, Visit visit) {
    std::vector<std::string> pending{"\\"};
    std::vector<std::string> names;
    while (!pending.empty()) {
        const std::string directory = std::move(pending.back());
        pending.pop_back();
        names.clear();
        fs.list(directory, "*.*", false, names);
        for (const std::string& name : names)
            visit(directory + name);
        names.clear();
        fs.list(directory, "*.*", true, names);
        for (const std::string& name : names)
            pending.push_back(directory + name + "\\");
    }
}

// Reads both files in chunks of at most BundleBuilder::copy_chunk bytes; its buffers are its
// own, so that jobs compare at once.
bool same_bytes(Archive& before, Archive& after) {
    const auto chunk = static_cast<std::uint32_t>(
        std::min<std::int64_t>(before.size(), BundleBuilder::copy_chunk));
    // Left uninitialised: the reads fill what is compared.
    const std::unique_ptr<char[]> first(new char[chunk]), second(new char[chunk]);
    for (std::int64_t left = before.size(); left > 0;) {
        const auto wanted = static_cast<std::uint32_t>(std::min<std::int64_t>(left, chunk));
        const std::uint32_t got = before.checked_read(first.get(), wanted);
        // A file that ends early is not the file the directory promised: call it changed.
        if (got == 0 || after.checked_read(second.get(), got) != got)
            return false;
        if (std::memcmp(first.get(), second.get(), got) != 0)
            return false;
        left -= got;
    }
    return true;
}

bool unchanged(FileSystem& pre, FileSystem& post, const std::string& path) {
    // Both open as empty archives, but a file must replace the directory.
    if (pre.is_dir(path))
        return false;
    Archive before = pre.open(path, "r");
    Archive after = post.open(path, "r");
    if (before.size() != after.size())
        return false;
    return before.size() == 0 || same_bytes(before, after);
}

}  // namespace

void compare_bundles(FileSystem& pre, FileSystem& post, BundleBuilder& builder, int jobs,
                     Progress* progress) {
    if (progress != nullptr && progress->shown()) {
        // A walk of a bundle's directory is cheap beside the comparison it counts for.
        std::uint64_t files = 0;
        walk_files(post, [&files](const std::string&) { ++files; });
        progress->start(files, 0);
    }
    // Comparing the contents is where a patch spends its time: the files are compared by the
    // jobs, and added to the builder in order as the jobs are released.
    // Files go to the jobs in runs: a job per small file cost more in handing it out than its
    // comparison took.
    constexpr std::size_t run_length = 16;
    JobQueue queue(jobs);
    std::vector<std::pair<std::string, bool>> run;  // (path, whether pre has it)
    const auto compare_run = [&] {
        queue.add([&pre, &post, &builder, progress, files = std::move(run)] {
            for (const auto& [path, existed] : files) {
                const bool same = existed && unchanged(pre, post, path);
                if (progress != nullptr)
                    progress->advance(1, 0);
                if (same)
                    continue;
                JobQueue::on_release(
                    [&post, &builder, path = path, existed = existed] {
                        builder.add_file(post, path, path);
                        log_verbose << (existed ? "Modify: " : "Add:    ") << path << std::endl;
                    },
                    [] {});
            }
        });
        run.clear();
    };
    walk_files(post, [&](const std::string& path) {
        run.emplace_back(path, pre.exists(path));
        if (run.size() == run_length)
            compare_run();
    });
    if (!run.empty())
        compare_run();
    queue.finish();
    if (progress != nullptr)
        progress->finish();
    walk_files(pre, [&](const std::string& path) {
        if (post.exists(path))
            return;
        builder.add_file(post, path, path);
        log_verbose << "Remove: " << path << std::endl;
    });
}

void make_patch(FileSystem& pre, FileSystem& post, const std::string& destination, int jobs,
                Progress* progress) {
    BundleBuilder builder(progress);
    log_verbose << "Creating patch bundle." << std::endl;
    log_verbose << "------- Patch start -------" << std::endl;
    compare_bundles(pre, post, builder, jobs, progress);
    log_verbose << "------- Patch end!! -------" << std::endl;
    builder.write_bundle(post, destination, jobs);
    builder.write_listing(destination + ".log");
}

}  // namespace kam
