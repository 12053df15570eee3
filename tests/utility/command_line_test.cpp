// Global flags, flag values and unknown-flag reports.
#include "utility/command_line.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/error_of.h"
#include "support/trovex_runner.h"
#include "utility/output_streams.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, GlobalFlagsAreTakenAnywhere) {
    struct Case {
        Args arguments;
        int verbosity;
        bool break_on_error;
        bool wait;
        Args left;
    };
    const Case cases[] = {
        {{"-vv"}, 2, false, false, {}},
        {{"-vb"}, 1, true, false, {}},
        {{"-b", "-b"}, 0, true, false, {"-b"}},
        {{"bundle", "-v", "x.log", "--verbose"}, 2, false, false, {"bundle", "x.log"}},
        {{"list", "-rw", "--break-on-error"}, 0, true, true, {"list", "-r"}},
        {{"--", "-"}, 0, false, false, {"--", "-"}},
    };
    for (const Case& c : cases) {
        CommandLine line(c.arguments);
        EXPECT_EQ(line.verbosity, c.verbosity);
        EXPECT_EQ(line.break_on_error, c.break_on_error);
        EXPECT_EQ(line.wait_when_done, c.wait);
        EXPECT_EQ(line.arguments(), c.left);
    }
}

TEST(CommandLineTest, FlagValueForms) {
    const std::tuple<Args, std::string, Args> cases[] = {
        {{"-rD:\\data", "a.log"}, "D:\\data", {"a.log"}},
        {{"-mr", "D:\\data", "a.log"}, "D:\\data", {"-m", "a.log"}},
        {{"-r", "-x", "a.log"}, "-x", {"a.log"}},
        {{"a.log", "-rD:\\data"}, "D:\\data", {"a.log"}},
        {{"--root=d", "a.log"}, "d", {"a.log"}},
        {{"a.log", "--root"}, "", {"a.log", "--root"}},
        {{"--root", "d", "a.log"}, "d", {"a.log"}},
        {{"-r"}, "", {"-r"}},
    };
    for (const auto& [arguments, value, left] : cases) {
        CommandLine line(arguments);
        EXPECT_EQ(line.flag_value('r', "root"), value);
        EXPECT_EQ(line.arguments(), left);
    }
}

TEST(CommandLineTest, NoFlagIsTakenOutOfAValue) {
    struct Case {
        Args arguments;
        char letter;
        std::string value;
        int verbosity;
        bool break_on_error;
    };
    const Case cases[] = {
        {{"-Dout/bvx.bundle"}, 'D', "out/bvx.bundle", 0, false},
        {{"-vbD", "x"}, 'D', "x", 1, true},
        {{"-rD:\\data", "-a", "a.log"}, 'a', "a.log", 0, false},
        {{"-rD:\\data", "-a", "a.log"}, 'r', "D:\\data", 0, false},
    };
    for (const Case& c : cases) {
        CommandLine line(c.arguments, "rDa");
        EXPECT_EQ(line.verbosity, c.verbosity);
        EXPECT_EQ(line.break_on_error, c.break_on_error);
        EXPECT_EQ(line.flag_value(c.letter, "long"), c.value);
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
