// Writing compiled scripts and reading them back, sound, damaged and truncated.
#include "script/compiled_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "support/error_of.h"
#include "support/memory_file_system.h"

namespace {

using namespace kam::script;
using Bytes = std::vector<std::uint8_t>;

const Bytes code = {0, 39, 0, 10, 0};
const std::vector<std::int32_t> lines = {0, 1, -1, 2, 2};

// Header, five code bytes, three zeros to offset 24, format 0, "a.ksf", five lines.
Bytes sound_image() {
    return compiled_script_image(code, lines, "a.ksf", true);
}

CompiledScriptRead read(const Bytes& bytes, CompiledScript& script, bool read_debug = true) {
    kam::Archive file = test::archive_of(std::string(bytes.begin(), bytes.end()), "x.kxe");
    return read_compiled_script(file, read_debug, script);
}

Bytes with_u32(Bytes bytes, size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

// The golden compiled files pin the layout for one code size; the padding before the debug
// section depends on the size.
TEST(CompiledScriptTest, DebugSectionIsAlignedAfterTheCode) {
    for (const auto& [size, offset] : {std::pair{1, 20}, {4, 20}, {5, 24}, {8, 24}}) {
        EXPECT_EQ(compiled_debug_offset(static_cast<std::uint64_t>(size)),
                  static_cast<std::uint64_t>(offset));
        const Bytes image =
            compiled_script_image(Bytes(static_cast<size_t>(size)),
                                  std::vector<std::int32_t>(static_cast<size_t>(size)), "", true);
        EXPECT_EQ(image[8], offset) << size;
    }
}

TEST(CompiledScriptTest, ReadsBackCodePathAndLinesAboveZero) {
    CompiledScript script;
    ASSERT_EQ(read(sound_image(), script), CompiledScriptRead::loaded);
    EXPECT_EQ(script.code, code);
    EXPECT_TRUE(script.has_debug);
    EXPECT_EQ(script.source_path, "a.ksf");
    const std::int32_t expected[] = {0, 1, 0, 2, 2, 0};
    for (std::uint32_t address = 0; address < 6; ++address)
        EXPECT_EQ(script.lines.find(address), expected[address]);

    // Without debug information, or in a format this reader does not know, only the code is read.
    ASSERT_EQ(read(sound_image(), script, false), CompiledScriptRead::loaded);
    EXPECT_EQ(script.code, code);
    EXPECT_TRUE(script.lines.empty());
    ASSERT_EQ(read(with_u32(sound_image(), 24, 1), script), CompiledScriptRead::loaded);
    EXPECT_FALSE(script.has_debug);
    EXPECT_EQ(script.code, code);

    // More than the first read holds: the rest comes in a second one.
    const Bytes big(1 << 20, 39);
    ASSERT_EQ(read(compiled_script_image(big, std::vector<std::int32_t>(big.size(), 7), "a", true),
                   script),
              CompiledScriptRead::loaded);
    EXPECT_EQ(script.code, big);
    EXPECT_EQ(script.lines.find(big.size() - 1), 7);
}

TEST(CompiledScriptTest, DamagedFilesAreRefusedWithWhatIsWrong) {
    const std::string prefix = "Compiled script x.kxe is damaged: ";
    const Bytes image = sound_image();
    const std::pair<Bytes, std::string> cases[] = {
        {{'K', 'X', 'E'}, "the file ends inside the header"},
        {{'K', 'X', 'E', 0, 5, 0, 0, 0}, "the file ends inside the header"},
        {with_u32(image, 4, 0xfffffff0u),
         "the header promises 4294967280 bytes of code, the file holds 38"},
        {with_u32(image, 8, 0x7fffffffu), "the debug section at 2147483647 lies outside the file"},
        {with_u32(image, 8, 20), "the debug section at 20 lies outside the file"},
        {Bytes(image.begin(), image.begin() + 31),
         "the source path in the debug section is not terminated"},
        {Bytes(image.begin(), image.end() - 1),
         "the line table of 5 lines does not fit in the file"},
    };
    for (const auto& [bytes, message] : cases) {
        CompiledScript script;
        EXPECT_EQ(test::error_of<CompiledScriptError>([&, &b = bytes] { read(b, script); }),
                  prefix + message);
    }
    CompiledScript script;
    Bytes other = image;
    other[2] = 'F';
    EXPECT_EQ(read(other, script), CompiledScriptRead::wrong_magic);
}

// The check without the read must trust and refuse exactly the files the read does.
TEST(CompiledScriptTest, CheckingAgreesWithReading) {
    const Bytes image = sound_image();
    const Bytes long_path = compiled_script_image(code, lines, std::string(700, 'p'), true);
    std::vector<Bytes> files = {with_u32(image, 4, 0xfffffff0u), with_u32(image, 8, 20),
                                with_u32(image, 24, 1), long_path};
    for (const Bytes* whole : {&image, &long_path}) {
        for (size_t size = 0; size < whole->size(); ++size) {
            files.emplace_back(whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(size));
        }
    }
    // The path's zero byte gone: unterminated within the longest path, or crowding out the table.
    Bytes unterminated = long_path;
    unterminated[24 + 4 + 700] = 'p';
    files.push_back(unterminated);
    files.push_back(with_u32(image, 8, 0x7fffffffu));
    for (const Bytes& bytes : files) {
        for (const bool read_debug : {true, false}) {
            kam::Archive file = test::archive_of(std::string(bytes.begin(), bytes.end()), "x.kxe");
            CompiledScript script;
            CompiledScriptRead read_answer{}, check_answer{};
            // Refused by both or by neither, each in its own words; a refusal leaves the answer
            // unset.
            const bool read_fails = test::error_of<CompiledScriptError>([&] {
                                        read_answer = read(bytes, script, read_debug);
                                    }) != "(no error)";
            const bool check_fails = test::error_of<CompiledScriptError>([&] {
                                         check_answer = check_compiled_script(file, read_debug);
                                     }) != "(no error)";
            EXPECT_EQ(check_fails, read_fails) << bytes.size() << " " << read_debug;
            // A cut sound file is refused, unless only its debug section is cut and not read.
            if (bytes.size() < image.size() &&
                std::equal(bytes.begin(), bytes.end(), image.begin())) {
                EXPECT_EQ(read_fails, read_debug || bytes.size() < 21) << bytes.size();
            }
            EXPECT_EQ(check_answer, read_answer) << bytes.size();
        }
    }
}

}  // namespace
