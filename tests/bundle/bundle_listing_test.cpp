// The list width: read the way the standard string-to-integer conversion reads it, with the
// default for nothing usable and a cap for absurd widths.
#include "bundle/bundle_listing.h"

#include <gtest/gtest.h>

namespace {

TEST(BundleListingTest, WidthIsReadLikeTheStandardConversion) {
    const struct {
        const char* text;
        int width;
    } cases[] = {
        {"30", 30},       {" \t+30x", 30},  {"-30", 79},      {"0", 79},
        {"", 79},         {"abc", 79},      {"1", 1},         {"65536", 65536},
        {"65537", 65536}, {"99999999999999999999999", 65536},
    };
    for (const auto& c : cases) EXPECT_EQ(kam::list_width(c.text), c.width) << c.text;
}

}  // namespace
