// Replays every fuzz reproducer and seed through its target's entry point: what once broke a
// decoder stays fixed, and the targets run in every build, not only under libFuzzer.
#include <gtest/gtest.h>

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
    for (const auto& entry : fs::directory_iterator(fuzz_dir / kind)) {
        if (entry.is_directory())
            names.insert(entry.path().filename().string());
    }
    return names;
}

// CI runs one target per seed folder: every target has one, and every folder a target.
TEST(FuzzRegressionTest, ReproducersAndSeedsRunCleanly) {
    std::set<std::string> targets;
    for (const fuzz::Target& target : fuzz::all_targets()) {
        targets.insert(target.name);
        for (const char* kind : {"regressions", "corpus"}) {
            const fs::path dir = fuzz_dir / kind / target.name;
            if (!fs::is_directory(dir))
                continue;
            std::set<fs::path> files;  // in name order, so that a failure repeats
            for (const auto& entry : fs::directory_iterator(dir)) {
                if (entry.is_regular_file())
                    files.insert(entry.path());
            }
            for (const fs::path& file : files) {
                const std::string bytes = test::read_file(file);
                try {
                    target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
                } catch (const std::exception& error) {
                    ADD_FAILURE() << file.string() << ": " << error.what();
                }
            }
        }
    }
    EXPECT_EQ(folders("corpus"), targets);
    for (const std::string& name : folders("regressions"))
        EXPECT_TRUE(targets.count(name)) << name;
}

}  // namespace
