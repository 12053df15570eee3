// Reading a dependency file back: the rule's target and its inputs, escapes undone.
#include "utility/depfile.h"

#include <gtest/gtest.h>

namespace {

TEST(DepfileParseTest, ReadsTheFirstRuleAsMakeDoes) {
    const struct {
        const char* text;
        bool found;
        std::vector<std::string> inputs;
    } cases[] = {
        {"out.xmb: a.xml b.xml", true, {"a.xml", "b.xml"}},  // no line end after the last input
        {"out.xmb: a$$", true, {"a$"}},                      // an escape that ends the text
        {"out.xmb: \\\n  a\\ b.xml \\\n  c$$\\#.xml\n", true, {"a b.xml", "c$#.xml"}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        kam::Depfile rule("");
        EXPECT_EQ(kam::Depfile::parse(c.text, rule), c.found) << c.text;
        EXPECT_EQ(rule.inputs(), c.inputs) << c.text;
    }
}

}  // namespace
