// The patch comparison: two walks and a chunked comparison of contents.
#include "bundle/bundle_patch.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
        for (const std::string& name : names) visit(directory + name);
        names.clear();
        fs.list(directory, "*.*", true, names);
        for (const std::string& name : names) pending.push_back(directory + name + "\\");
    }
}

class ContentComparer {
public:
    bool unchanged(FileSystem& pre, FileSystem& post, const std::string& path) {
        // Both open as empty archives, but a file must replace the directory.
        if (pre.is_dir(path)) return false;
        Archive before = pre.open(path, "r");
        Archive after = post.open(path, "r");
        if (before.size() != after.size()) return false;
        return before.size() == 0 || same_bytes(before, after);
    }

private:
    bool same_bytes(Archive& before, Archive& after) {
        if (first_.empty()) {
            first_.resize(BundleBuilder::copy_chunk);
            second_.resize(BundleBuilder::copy_chunk);
        }
        for (std::int64_t left = before.size(); left > 0;) {
            const auto wanted = static_cast<std::uint32_t>(
                std::min<std::int64_t>(left, static_cast<std::int64_t>(first_.size())));
            const std::uint32_t got = before.checked_read(first_.data(), wanted);
            // A file that ends early is not the file the directory promised: call it changed.
            if (got == 0 || after.checked_read(second_.data(), got) != got) return false;
            if (std::memcmp(first_.data(), second_.data(), got) != 0) return false;
            left -= got;
        }
        return true;
    }

    std::vector<char> first_;
    std::vector<char> second_;
};

}  // namespace

void compare_bundles(FileSystem& pre, FileSystem& post, BundleBuilder& builder) {
    ContentComparer comparer;
    walk_files(post, [&](const std::string& path) {
        const bool existed = pre.exists(path);
        if (existed && comparer.unchanged(pre, post, path)) return;
        builder.add_file(post, path, path);
        log_verbose << (existed ? "Modify: " : "Add:    ") << path << std::endl;
    });
    walk_files(pre, [&](const std::string& path) {
        if (post.exists(path)) return;
        builder.add_file(post, path, path);
        log_verbose << "Remove: " << path << std::endl;
    });
}

void make_patch(FileSystem& pre, FileSystem& post, const std::string& destination) {
    BundleBuilder builder;
    log_verbose << "Creating patch bundle." << std::endl;
    log_verbose << "------- Patch start -------" << std::endl;
    compare_bundles(pre, post, builder);
    log_verbose << "------- Patch end!! -------" << std::endl;
    builder.write_bundle(post, destination);
    builder.write_listing(destination + ".log");
}

}  // namespace kam
