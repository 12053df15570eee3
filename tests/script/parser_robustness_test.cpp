// Whatever a script author types, a compile ends with a result and its messages.
#include <gtest/gtest.h>

#include "script/script_error.h"
#include "script/script_test_support.h"

namespace {

// Parses, lists and, when accepted, generates; a refused source must say why.
void check_compile(const std::string& source) {
    kam::script::StringScanner scanner(source, "f.ksf");
    kam::script::Parser parser(scanner);
    const bool accepted = parser.parse();
    std::ostringstream listing;
    parser.print(listing);
    if (!accepted) {
        ASSERT_GT(parser.error_count(), 0) << source;
        ASSERT_FALSE(parser.error_text().empty()) << source;
        return;
    }
    ASSERT_EQ(parser.error_text(), "") << source;
    try {
        test::emit_all(parser);
    } catch (const kam::script::DSBaseError&) {
        // Unknown names and limits are the generator's to report.
    }
}

std::vector<std::string> valid_samples() {
    std::vector<std::string> samples;
    for (const char* name : {"statements", "expressions", "loops", "two_variable_for"}) {
        samples.push_back(test::read_data(std::string(name) + ".ksf"));
    }
    return samples;
}

TEST(ParserRobustnessTest, EveryPrefixOfAValidSourceCompilesOrSaysWhy) {
    int refused = 0;
    for (const std::string& sample : valid_samples()) {
        for (size_t length = 0; length <= sample.size(); ++length) {
            const std::string prefix = sample.substr(0, length);
            check_compile(prefix);
            refused += test::compile_script(prefix).accepted ? 0 : 1;
        }
    }
    EXPECT_GT(refused, 500);
}

}  // namespace
