// Bundles of whole directory trees made with the builder, the way quick-bundle packs a root.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bundle/bundle_builder.h"
#include "utility/disk_file_system.h"

namespace test {

// Every file under root with its data: a directory's files before its subdirectories, sibling
// subdirectories in reverse name order. Also writes the listing, bundle + ".log".
inline void bundle_tree(const std::filesystem::path& root, const std::filesystem::path& bundle) {
    kam::DiskFileSystem tree(root.string());
    kam::BundleBuilder builder;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string directory = pending.back();
        pending.pop_back();
        std::vector<std::string> files, subdirectories;
        tree.list(directory, "*.*", false, files);
        tree.list(directory, "*.*", true, subdirectories);
        for (const std::string& name : files) {
            builder.add_file(kam::default_disk_file_system(), tree.root() + directory + name,
                             directory + name);
        }
        for (const std::string& name : subdirectories) pending.push_back(directory + name + "\\");
    }
    builder.write_bundle(kam::default_disk_file_system(), bundle.string());
    builder.write_listing(bundle.string() + ".log");
}

}  // namespace test
