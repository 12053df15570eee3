// The files whose data a bundle on disk holds, in the order of their data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bundle/bundle_index.h"
#include "utility/disk_file_system.h"
#include "utility/path.h"

namespace test {

inline void collect_packed(const kam::BundleEntryMap& directory, const std::string& prefix,
                           std::vector<std::pair<std::uint64_t, std::string>>& files) {
    for (const auto& [name, entry] : directory) {
        if (entry.directory)
            collect_packed(*entry.directory, kam::concat(prefix, name) + "\\", files);
        if (entry.has_data())
            files.emplace_back(entry.offset, kam::concat(prefix, name));
    }
}

// Bundle paths, canonical.
inline std::vector<std::string> packed_files(const std::filesystem::path& bundle) {
    kam::BundleIndex index;
    index.load(kam::default_disk_file_system().open(bundle.string(), "r"));
    std::vector<std::pair<std::uint64_t, std::string>> files;
    collect_packed(index.root(), "", files);
    std::sort(files.begin(), files.end());
    std::vector<std::string> paths;
    for (auto& file : files)
        paths.push_back(std::move(file.second));
    return paths;
}

}  // namespace test
