// The script loader: source reading, load modes, compiled files it trusts and those it does not.
#include "script/script_rte.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>

#include "script/script_error.h"
#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "support/trovex_runner.h"
#include "utility/disk_file_system.h"
#include "utility/virtual_file_system.h"

namespace {

using kam::script::CompiledScriptRead;
using kam::script::ScriptRTE;
using Bytes = std::vector<std::uint8_t>;

// "f() {}" compiled: its record, record 0, then resize-locals 0, push void, return.
const Bytes f_code = {3, 11, 0, 0, 0, 'f', 0, 0, 0, 0, 0, 39, 0, 10, 0};

// f_code compiled from s.ksf with "f() {}" on the given line.
Bytes f_image(std::int32_t line, bool with_debug = true) {
    const std::vector<std::int32_t> lines = {0,  -1, -1, -1,   -1, -1,   -1,  -1,
                                             -1, -1, 0,  line, -1, line, line};
    return kam::script::compiled_script_image(f_code, lines, "s.ksf", with_debug);
}

TEST(ScriptRTETest, ArchiveScannerReadsLinesAndRefusesZeroBytes) {
    using namespace std::string_literals;
    const std::string text = "a\r\nb\n\nc\nd\0e\nf"s;
    kam::Archive source = test::archive_of(text, "t.ksf");
    ScriptRTE::ArchiveScanner scanner(source);
    for (const auto& [spelling, line] : {std::pair{"a", 1}, {"b", 2}, {"c", 4}}) {
        const auto token = scanner.next_token();
        EXPECT_EQ(token.text, spelling);
        EXPECT_EQ(token.line, line);
    }
    // The line with the zero byte is refused whole; scanning goes on after it.
    EXPECT_EQ(test::error_of<kam::script::ScannerError>([&] { scanner.next_token(); }),
              "t.ksf(5): Zero byte in the source - not a text file");
    const auto token = scanner.next_token();
    EXPECT_EQ(token.text, "f");
    EXPECT_EQ(token.line, 6);
    EXPECT_EQ(scanner.next_token().kind, 0);
}

// The disk, counting the lookups it answers and noting the files it opens.
class CountingDisk : public kam::DiskFileSystem {
public:
    using DiskFileSystem::DiskFileSystem;
    bool exists(const std::string& path) override {
        return ++lookups, DiskFileSystem::exists(path);
    }
    bool look_up(const std::string& path, kam::EntryInfo& info) override {
        return ++lookups, DiskFileSystem::look_up(path, info);
    }
    bool look_up_and_open(const std::string& path, kam::EntryInfo& info,
                          kam::Archive& file) override {
        return ++lookups, DiskFileSystem::look_up_and_open(path, info, file);
    }
    std::uint64_t modification_time(const std::string& path) override {
        return ++lookups, DiskFileSystem::modification_time(path);
    }
    kam::Archive open(const std::string& path, const std::string& mode) override {
        opened.push_back(path + "/" + mode);
        return DiskFileSystem::open(path, mode);
    }
    std::unique_ptr<kam::ReplacingFile> create_replacing(const std::string& path) override {
        opened.push_back(path + "/replace");
        return DiskFileSystem::create_replacing(path);
    }

    int lookups = 0;
    std::vector<std::string> opened;
};

class ScriptLoadTest : public ::testing::Test {
protected:
    ScriptLoadTest() : disk_(dir_.path().string()) { files_.mount("/", &disk_, false); }

    Bytes read(const std::string& relative) const {
        const std::string text = dir_.read(relative);
        return Bytes(text.begin(), text.end());
    }
    void write(const std::string& relative, const Bytes& bytes) const {
        dir_.write(relative, std::string(bytes.begin(), bytes.end()));
    }
    // Makes the file look written an hour away from now.
    void shift_time(const std::string& relative, int hours) const {
        std::filesystem::last_write_time(
            dir_.path() / relative,
            std::filesystem::file_time_type::clock::now() + std::chrono::hours(hours));
    }

    test::TempDir dir_;
    kam::VirtualFileSystem files_;
    CountingDisk disk_;
};

TEST_F(ScriptLoadTest, ModesDecideSavingAndDebugInformation) {
    const Bytes planted = kam::script::compiled_script_image({0}, {0}, "s.ksf", true);
    for (int mode = 0; mode <= 4; ++mode) {
        for (const bool up_to_date : {false, true}) {
            dir_.write("s.ksf", "\nf() {}");
            write("s.kxe", planted);
            shift_time("s.kxe", up_to_date ? 1 : -1);
            ScriptRTE scripts("not_used", mode);
            ASSERT_EQ(scripts.load("s"), 0);
            const auto& program = scripts.program(0);
            const bool used_compiled = up_to_date && mode <= 2;
            EXPECT_EQ(program.code, used_compiled ? Bytes{0} : f_code) << mode;
            EXPECT_EQ(program.source_path, "s.ksf");
            if (used_compiled || mode == 0) {
                EXPECT_EQ(read("s.kxe"), planted) << mode;
                continue;
            }
            EXPECT_EQ(read("s.kxe"), f_image(2, mode == 2 || mode == 4)) << mode;
            EXPECT_EQ(program.line_map.find(11), 2);
            EXPECT_EQ(program.line_map.find(12), 0);
        }
    }
}

TEST_F(ScriptLoadTest, NamesAreCanonicalAndLoadedOnce) {
    dir_.write("Sub/S.ksf", "f() {}");
    ScriptRTE scripts("not_used", ScriptRTE::load_only);
    EXPECT_EQ(scripts.load("SUB/s"), 0);
    EXPECT_EQ(scripts.load("sub\\S"), 0);
    EXPECT_EQ(scripts.program(0).name, "sub\\s");
    EXPECT_EQ(test::error_of<ScriptRTE::Error>([&] { scripts.load("Sub/Missing"); }),
              "Script: sub\\missing not found!");
}

TEST_F(ScriptLoadTest, LookupsGivenToLoadAreNotMadeAgain) {
    dir_.write("s.ksf", "f() {}");
    const Bytes compiled = f_image(1);
    write("s.kxe", compiled);
    shift_time("s.kxe", 1);
    auto look_up = [&] {
        std::array<kam::VirtualFileSystem::Found, 2> found = {files_.find("S.ksf"),
                                                              files_.find_file("s.KXE")};
        disk_.lookups = 0;
        disk_.opened.clear();
        return found;
    };

    // Up to date: read through the file the lookup opened, nothing asked again.
    auto found = look_up();
    ScriptRTE kept("not_used", ScriptRTE::save_if_modified);
    ASSERT_EQ(kept.load("s", found), 0);
    EXPECT_EQ(kept.program(0).code, f_code);
    EXPECT_EQ(disk_.lookups, 0);
    EXPECT_TRUE(disk_.opened.empty());
    EXPECT_FALSE(found[1].file.has_store());

    // Stale: the opened compiled file is let go before the source is compiled and saved.
    shift_time("s.ksf", 2);
    found = look_up();
    ASSERT_TRUE(found[1].file.has_store());
    ScriptRTE rebuilt("not_used", ScriptRTE::save_if_modified);
    ASSERT_EQ(rebuilt.load("s", found), 0);
    EXPECT_EQ(disk_.lookups, 0);
    EXPECT_EQ(disk_.opened, (std::vector<std::string>{"s.ksf/r", "s.kxe/replace"}));
    EXPECT_FALSE(found[1].file.has_store());
    EXPECT_EQ(read("s.kxe"), compiled);

    // Lookups of other paths are not taken for the script's.
    std::array<kam::VirtualFileSystem::Found, 1> other = {files_.find("t.ksf")};
    disk_.lookups = 0;
    ScriptRTE asked("not_used", ScriptRTE::save_if_modified);
    ASSERT_EQ(asked.load("s", other), 0);
    EXPECT_EQ(asked.program(0).code, f_code);
    EXPECT_EQ(disk_.lookups, 2);
}

TEST_F(ScriptLoadTest, DamagedCompiledFilesAreRebuiltFromTheSourceOrRefused) {
    const Bytes sound = kam::script::compiled_script_image(
        f_code, std::vector<std::int32_t>(f_code.size(), 1), "s.ksf", true);
    Bytes wrong_magic = sound;
    wrong_magic[0] = 'X';
    // The reader's own table has every kind of damage; one of them and a stranger suffice here.
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(sound.begin(), sound.end() - 3),
         "Compiled script s.kxe is damaged: the line table of 15 lines does not fit in the file"},
        {wrong_magic, "File s.kxe is not a compiled script"},
    };
    for (const auto& [bytes, message] : cases) {
        dir_.write("s.ksf", "f() {}");
        write("s.kxe", bytes);
        shift_time("s.kxe", 1);
        ScriptRTE rebuilt("not_used", ScriptRTE::save_if_modified);
        ASSERT_EQ(rebuilt.load("s"), 0);
        EXPECT_EQ(rebuilt.program(0).code, f_code);
        EXPECT_EQ(read("s.kxe").size(), sound.size());

        std::filesystem::remove(dir_.path() / "s.ksf");
        write("s.kxe", bytes);
        ScriptRTE refused("not_used", ScriptRTE::save_if_modified);
        EXPECT_EQ(test::error_of<ScriptRTE::Error>([&] { refused.load("s"); }),
                  message + "; there is no source s.ksf to compile it from");
        EXPECT_EQ(read("s.kxe"), bytes);
    }
    // A sound compiled file needs no source.
    write("s.kxe", sound);
    ScriptRTE scripts("not_used", ScriptRTE::save_if_modified);
    ASSERT_EQ(scripts.load("s"), 0);
    EXPECT_EQ(scripts.program(0).code, f_code);
    EXPECT_EQ(scripts.program(0).line_map.find(14), 1);
}

}  // namespace
