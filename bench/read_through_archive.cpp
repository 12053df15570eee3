// Reads one file front to back through the default disk file system, for timing against cat.
// Usage: read_through_archive MODE FILE [CHUNK_BYTES]   (MODE "r" or "rc"; chunk 65536 by default)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "utility/disk_file_system.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: read_through_archive MODE FILE [CHUNK_BYTES]\n");
        return 2;
    }
    const std::uint32_t chunk =
        argc > 3 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 65536;
    try {
        kam::Archive archive = kam::default_disk_file_system().open(argv[2], argv[1]);
        std::vector<unsigned char> buffer(chunk);
        unsigned char mix = 0;
        std::int64_t total = 0;
        while (archive.remaining() > 0) {
            const auto want =
                static_cast<std::uint32_t>(std::min<std::int64_t>(chunk, archive.remaining()));
            const std::uint32_t got = archive.checked_read(buffer.data(), want);
            if (got == 0)
                break;
            mix ^= buffer[got - 1];
            total += got;
        }
        if (total != archive.size()) {
            std::fprintf(stderr, "read %lld of %lld bytes\n", static_cast<long long>(total),
                         static_cast<long long>(archive.size()));
            return 1;
        }
        return mix == 0 ? 0 : 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
