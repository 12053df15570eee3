// Global flags, flag values and unknown-flag reports.
#include "utility/command_line.h"

#include <gtest/gtest.h>

#include "support/error_of.h"
#include "support/trovex_runner.h"
#include "utility/output_streams.h"

namespace {

using Args = std::vector<std::string>;

// Global flags come out anywhere; a value flag (letter 0: none asked) takes its value and leaves
// the rest, and no flag is taken out of a value.
TEST(CommandLineTest, GlobalFlagsAndFlagValues) {
    struct Case {
        Args arguments;
        const char* value_letters;
        char letter;
        std::string value;
        int verbosity;
        bool break_on_error, wait;
        Args left;
    };
    const Case cases[] = {
        {{"-vv"}, "", 0, "", 2, false, false, {}},
        {{"-vb"}, "", 0, "", 1, true, false, {}},
        {{"-b", "-b"}, "", 0, "", 0, true, false, {"-b"}},
        {{"bundle", "-v", "x.log", "--verbose"}, "", 0, "", 2, false, false, {"bundle", "x.log"}},
        {{"list", "-rw", "--break-on-error"}, "", 0, "", 0, true, true, {"list", "-r"}},
        {{"--", "-"}, "", 0, "", 0, false, false, {"--", "-"}},
        {{"-rD:\\data", "a.log"}, "", 'r', "D:\\data", 0, false, false, {"a.log"}},
        {{"-mr", "D:\\data", "a.log"}, "", 'r', "D:\\data", 0, false, false, {"-m", "a.log"}},
        {{"-r", "-x", "a.log"}, "", 'r', "-x", 0, false, false, {"a.log"}},
        {{"a.log", "-rD:\\data"}, "", 'r', "D:\\data", 0, false, false, {"a.log"}},
        {{"--root=d", "a.log"}, "", 'r', "d", 0, false, false, {"a.log"}},
        {{"a.log", "--root"}, "", 'r', "", 0, false, false, {"a.log", "--root"}},
        {{"--root", "d", "a.log"}, "", 'r', "d", 0, false, false, {"a.log"}},
        {{"-r"}, "", 'r', "", 0, false, false, {"-r"}},
        {{"-Dout/bvx.bundle"}, "rDa", 'D', "out/bvx.bundle", 0, false, false, {}},
        {{"-vbD", "x"}, "rDa", 'D', "x", 1, true, false, {}},
        {{"-rD:\\data", "-a", "a.log"}, "rDa", 'a', "a.log", 0, false, false, {"-rD:\\data"}},
        {{"-rD:\\data", "-a", "a.log"}, "rDa", 'r', "D:\\data", 0, false, false, {"-a", "a.log"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        CommandLine line(c.arguments, c.value_letters);
        EXPECT_EQ(line.verbosity, c.verbosity);
        EXPECT_EQ(line.break_on_error, c.break_on_error);
        EXPECT_EQ(line.wait_when_done, c.wait);
        EXPECT_EQ(c.letter != 0 ? line.flag_value(c.letter, "root") : "", c.value);
        EXPECT_EQ(line.arguments(), c.left);
    }
}

TEST(CommandLineTest, FlagValuesStopAtAnEmptyValueAndArgumentsAreTakenByIndex) {
    CommandLine line(Args{"-i", "a", "--ignore", "b", "-i", "", "-i", "c", "end"});
    EXPECT_EQ(line.flag_values('i', "ignore"), (Args{"a", "b"}));
    EXPECT_EQ(line.arguments(), (Args{"-i", "c", "end"}));
    EXPECT_EQ(line.argument(2), "end");
    EXPECT_EQ(line.argument(3), "");
    EXPECT_EQ(line.take_argument(0), "-i");
    EXPECT_EQ(line.take_argument(5), "");
    EXPECT_EQ(line.arguments(), (Args{"c", "end"}));
}

TEST(CommandLineTest, UnknownFlagsAreReportedFramedAndRemoved) {
    CommandLine line(Args{"-", "a", "--", "-x"});
    std::string expected;
    for (const std::string flag : {"-", "--", "-x"})
        expected += test::framed("Unknown flag " + flag + " use -h for help");
    EXPECT_EQ(test::output_of([&] { line.report_unknown_flags(); }), expected);
    EXPECT_EQ(line.arguments(), Args{"a"});
}

TEST(CommandLineTest, BreakOnErrorStopsAtTheFirstUnknownFlag) {
    CommandLine line(Args{"-b", "-b", "-x"});
    EXPECT_EQ(test::output_of([&] { EXPECT_THROW(line.report_unknown_flags(), TrovexError); }),
              test::framed("Unknown flag -b use -h for help"));
    error_stream.reset();
}

}  // namespace
