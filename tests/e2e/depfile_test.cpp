// --depfile as make and ninja read it, and compile-xml -m after edits of included files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <tuple>

#include "support/platform.h"
#include "support/trovex_runner.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::string>;
using Commands = std::vector<std::vector<std::string>>;

const std::string level_log = test::recorded_log({"d\\b.txt"});

// Windows spells paths with backslashes, in the case given: compared as it matches names.
std::string on_this_system(const std::string& text) {
    return test::on_windows ? test::canonical(text) : text;
}

TEST(DepfileTest, NamesEveryInputAsTheDiskSpellsItAndChangesNoOtherOutput) {
    const std::tuple<const char*, Files, Commands, std::string, std::string> cases[] = {
        {"includes, transitively, escaped",
         {{"a b$#/x.xml", "<x><xi:include href=\"inc/i.xml\"/></x>"},
          {"a b$#/Inc/i.xml", "<i><xi:include href=\"j.xml\"/></i>"},
          {"a b$#/Inc/j.xml", "<j><k/></j>"}},
         {{"compile-xml", "--depfile", "-r", "a b$#", "a b$#/x.xml"}},
         "a b$#/x.xmb.d",
         "a\\ b$$\\#/x.xmb: \\\n  a\\ b$$\\#/x.xml \\\n  a\\ b$$\\#/Inc/i.xml \\\n"
         "  a\\ b$$\\#/Inc/j.xml\n"},
        {"a script names its source alone, over its old dependency file",
         {{"s/a.ksf", "f() { return 1; }\n"}, {"s/a.kxe.d", "s/a.kxe: old.ksf\n"}},
         {{"compile-scripts", "--depfile", "s"}},
         "s/a.kxe.d",
         "s/a.kxe: \\\n  s/a.ksf\n"},
        {"a bundle: its logs, force files, listed directories and packed files",
         {{"r/a.txt", "a"}, {"r/d/b.txt", "b"}, {"r/d/c.txt", "c"}, {"log.xml", level_log}},
         {{"bundle", "--depfile", "-r", "r", "-D", "o.bundle", "-F", "r/a.txt", "log.xml"}},
         "o.bundle.d",
         "o.bundle: \\\n  log.xml \\\n  r/a.txt \\\n  r \\\n  r/d \\\n  r/d/b.txt\n"},
        {"the directory the outputs go to is left out",
         {{"r/a.txt", "a"}},
         {{"quick-bundle", "--depfile", "-r", "r"}, {"quick-bundle", "--depfile", "-r", "r"}},
         "r/bundles/quick.bundle.d",
         "r/bundles/quick.bundle: \\\n  r \\\n  r/a.txt\n"},
        {"a patch names the bundles it compares",
         {{"r/a.txt", "a"}},
         {{"quick-bundle", "-r", "r", "-D", "a.bundle"},
          {"quick-bundle", "-r", "r", "-D", "b.bundle"},
          {"make-patch", "--depfile", "a.bundle", "b.bundle", "p.bundle"}},
         "p.bundle.d",
         "p.bundle: \\\n  a.bundle \\\n  b.bundle\n"},
    };
    for (const char* jobs : {"1", "2"}) {
        for (const auto& [name, files, commands, depfile, expected] : cases) {
            SCOPED_TRACE(std::string(name) + ", -j " + jobs);
            test::TempDir dir, plain;
            // Without --depfile, in a directory of its own: every other output is the same.
            std::string printed[2];
            for (const test::TempDir* where : {&dir, &plain}) {
                for (const auto& [path, content] : files)
                    where->write(path, content);
                for (std::vector<std::string> command : commands) {
                    if (where == &plain)
                        std::erase(command, "--depfile");
                    command.insert(command.begin(), {"-j", jobs});
                    const auto result = test::run_trovex(where->path(), command);
                    ASSERT_EQ(result.exit_code, 0) << result.output;
                    printed[where == &plain] += result.output;
                }
            }
            EXPECT_EQ(on_this_system(dir.read(depfile)), on_this_system(expected));
            auto outputs = test::snapshot(dir.path()), plain_outputs = test::snapshot(plain.path());
            outputs.erase(depfile);
            plain_outputs.erase(depfile);
            EXPECT_EQ(outputs, plain_outputs);
            EXPECT_EQ(printed[0], printed[1]);
        }
    }
}

// Every file made an hour older, so that what a step writes is newer than every output.
void age(const fs::path& directory) {
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : fs::recursive_directory_iterator(directory))
        fs::last_write_time(entry.path(), past);
}

TEST(DepfileTest, OnlyIfModifiedFollowsIncludes) {
    if (test::under_wine())
        GTEST_SKIP() << "Wine refuses to set the times of the files";
    const std::string compiled = "Compiling a.xml\n";
    const std::string missing =
        compiled + test::framed("a.xml (1): Cannot include b.xml: b.xml does not exist");
    // Steps of the files written, then the output after the banner and the exit status.
    const std::pair<const char*, std::vector<std::tuple<Files, std::string, int>>> cases[] = {
        {"an edited include rebuilds its includer",
         {{{{"a.xml", "<a><xi:include href=\"b.xml\"/></a>"}, {"b.xml", "<b><c/></b>"}},
           compiled,
           0},
          {{{"b.xml", "<b><d/></b>"}}, compiled, 0},
          {{}, "", 0}}},
        {"so does an edited include of an include",
         {{{{"a.xml", "<a><xi:include href=\"b.xml\"/></a>"},
            {"b.xml", "<b><xi:include href=\"sub/c.xml\"/></b>"},
            {"sub/c.xml", "<c><d/></c>"}},
           compiled,
           0},
          {{{"sub/c.xml", "<c><e/></c>"}}, compiled, 0},
          {{}, "", 0}}},
        {"a missing include rebuilds until it appears",
         {{{{"a.xml",
             "<a><!-- <xi:include href=\"gone.xml\"/> --><xi:include href=\"b.xml\"/></a>"}},
           missing,
           1},
          {{}, missing, 1},
          {{{"b.xml", "<b><c/></b>"}}, compiled, 0},
          {{}, "", 0}}},
    };
    for (const bool depfile : {false, true}) {
        for (const auto& [name, steps] : cases) {
            SCOPED_TRACE(std::string(name) + (depfile ? ", with --depfile" : ""));
            test::TempDir dir;
            std::vector<std::string> command = {"-v", "compile-xml", "-m", "-r", "t", "t/a.xml"};
            if (depfile)
                command.push_back("--depfile");
            for (const auto& [writes, output, exit_code] : steps) {
                age(dir.path());
                for (const auto& [path, content] : writes)
                    dir.write("t/" + path, content);
                const auto result = test::run_trovex(dir.path(), command);
                EXPECT_EQ(result.output, test::banner() + output);
                EXPECT_EQ(result.exit_code, exit_code);
            }
        }
    }
}

}  // namespace
