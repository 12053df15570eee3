// Whatever a script author types, a compile ends with a result and its messages.
#include <gtest/gtest.h>

#include "script/code_generator.h"
#include "script/script_test_support.h"

namespace {

// Parses, lists and, when accepted, generates; a refused source must say why. Early emission
// frees what each finished function used, whatever the recovery left open. True when accepted.
bool check_compile(const std::string& source, bool emit_early) {
    kam::script::StringScanner scanner(source, "f.ksf");
    kam::script::Parser parser(scanner, emit_early);
    const bool accepted = parser.parse();
    std::ostringstream listing;
    parser.print(listing);
    if (!accepted) {
        EXPECT_GT(parser.error_count(), 0) << source;
        EXPECT_FALSE(parser.error_text().empty()) << source;
        return false;
    }
    EXPECT_EQ(parser.error_text(), "") << source;
    kam::script::CodeBuffer code;
    // Unknown names and limits are the generator's to report.
    if (!kam::script::generate(parser, code)) {
        EXPECT_FALSE(parser.error_text().empty()) << source;
    }
    return true;
}

TEST(ParserRobustnessTest, EveryPrefixOfAValidSourceCompilesOrSaysWhy) {
    int refused = 0;
    for (const char* name : {"statements", "expressions", "loops", "two_variable_for"}) {
        const std::string sample = test::read_data(std::string(name) + ".ksf");
        for (size_t length = 0; length <= sample.size(); ++length) {
            const std::string prefix = sample.substr(0, length);
            refused += check_compile(prefix, false) ? 0 : 1;
            check_compile(prefix, true);
        }
    }
    EXPECT_GT(refused, 500);
}

}  // namespace
