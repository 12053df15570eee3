// Packs every file under a root into a bundle and its listing, as a quick bundle would, for
// timing the bundle builder against tar.
// Usage: bundle_write ROOT DESTINATION   (the listing goes to DESTINATION.log)
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bundle/bundle_builder.h"
#include "utility/disk_file_system.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bundle_write ROOT DESTINATION\n");
        return 2;
    }
    try {
        kam::DiskFileSystem tree(argv[1]);
        kam::BundleBuilder builder;
        // Depth first, a directory's files before its subdirectories.
        std::vector<std::string> pending{""};
        std::vector<std::string> names;
        while (!pending.empty()) {
            const std::string directory = pending.back();
            pending.pop_back();
            names.clear();
            tree.list(directory, "*.*", false, names);
            for (const std::string& name : names) {
                const std::string path = directory + name;
                builder.add_file(kam::default_disk_file_system(), tree.root() + path, path);
            }
            names.clear();
            tree.list(directory, "*.*", true, names);
            for (const std::string& name : names)
                pending.push_back(directory + name + "\\");
        }
        builder.write_bundle(kam::default_disk_file_system(), argv[2]);
        builder.write_listing(std::string(argv[2]) + ".log");
        std::printf("%zu files, %llu bytes of data\n", builder.jobs().size(),
                    static_cast<unsigned long long>(builder.data_size()));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
