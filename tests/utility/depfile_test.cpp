// Reading a dependency file back: the rule's target and its inputs, escapes undone.
#include "utility/depfile.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(DepfileParseTest, ReadsTheFirstRuleAsMakeDoes) {
    const std::tuple<const char*, bool, std::vector<std::string>> cases[] = {
        {"out.xmb: a.xml b.xml", true, {"a.xml", "b.xml"}},  // no line end after the last input
        {"out.xmb: a$$", true, {"a$"}},                      // an escape that ends the text
        {"out.xmb: \\\n  a\\ b.xml \\\n  c$$\\#.xml\n", true, {"a b.xml", "c$#.xml"}},
        {"", false, {}},
    };
    for (const auto& [text, found, inputs] : cases) {
        kam::Depfile rule("");
        EXPECT_EQ(kam::Depfile::parse(text, rule), found) << text;
        EXPECT_EQ(rule.inputs(), inputs) << text;
    }
}

}  // namespace
