// Flush semantics of the error and log streams.
#include "utility/output_streams.h"

#include <gtest/gtest.h>

#include "support/error_of.h"
#include "utility/command_line.h"

namespace {

const std::string dashes(70, '-');

// A message written before the verbosity rises is judged when it is flushed.
TEST(OutputStreamsTest, LogLevelsFollowVerbosityAtFlushTimeAndErrorsAreFramed) {
    CommandLine quiet(std::vector<std::string>{});
    EXPECT_EQ(test::output_of([] { log_verbose << "hidden" << std::endl; }), "");
    log_verbose << "late ";
    quiet.verbosity = 1;
    EXPECT_EQ(test::output_of([] { log_verbose << "message" << std::endl; }), "late message\n");
    // An error without a line break joins the closing dashes.
    EXPECT_EQ(test::output_of([] { error_stream << "no break" << std::flush; }),
              dashes + "\nERROR: no break" + dashes + "\n");
}

TEST(OutputStreamsTest, BreakOnErrorThrowsTheMessageAfterPrintingIt) {
    CommandLine line(std::vector<std::string>{"-b"});
    testing::internal::CaptureStdout();
    EXPECT_EQ(test::error_of<TrovexError>([] { error_stream << "first" << std::endl; }), "first\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), dashes + "\nERROR: first\n" + dashes + "\n");
    EXPECT_EQ(error_stream.buffer()->str(), "first\n");
    error_stream.reset();
}

}  // namespace
