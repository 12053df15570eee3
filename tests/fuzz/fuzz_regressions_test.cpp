// Replays every fuzz reproducer and seed through its target's entry point: what once broke a
// decoder stays fixed, and the targets run in every build, not only under libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "support/trovex_runner.h"
#include "targets.h"

namespace {

namespace fs = std::filesystem;

const fs::path fuzz_dir = fs::path(TROVEX_SOURCE_DIR) / "fuzz";

// The folders below fuzz/<kind>/ name the targets whose inputs they hold.
std::set<std::string> folders(const std::string& kind) {
    std::set<std::string> names;
    if (!fs::is_directory(fuzz_dir / kind))
        return names;
    for (const auto& entry : fs::directory_iterator(fuzz_dir / kind)) {
        if (entry.is_directory())
            names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(FuzzRegressionTest, EveryTargetHasSeedsAndEveryFolderATarget) {
    std::set<std::string> targets;
    for (const fuzz::Target& target : fuzz::all_targets())
        targets.insert(target.name);
    // CI runs one target per seed folder.
    EXPECT_EQ(folders("corpus"), targets);
    for (const std::string& name : folders("regressions"))
        EXPECT_TRUE(targets.count(name)) << name;
}

TEST(FuzzRegressionTest, ReproducersAndSeedsRunCleanly) {
    int replayed = 0;
    for (const fuzz::Target& target : fuzz::all_targets()) {
        for (const char* kind : {"regressions", "corpus"}) {
            const fs::path dir = fuzz_dir / kind / target.name;
            if (!fs::is_directory(dir))
                continue;
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(dir)) {
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files) {
                const std::string bytes = test::read_file(file);
                try {
                    target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
                } catch (const std::exception& error) {
                    ADD_FAILURE() << file.string() << ": " << error.what();
                }
                ++replayed;
            }
        }
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
