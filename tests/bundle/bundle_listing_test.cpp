// The list width: read the way the standard string-to-integer conversion reads it, with the
// default for nothing usable and a cap for absurd widths.
#include "bundle/bundle_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace {

TEST(BundleListingTest, WidthIsReadLikeTheStandardConversion) {
    const struct {
        const char* text;
        int width;
    } cases[] = {
        {" \t+30x", 30}, {"-30", 79},      {"0", 79},        {"", 79},
        {"1", 1},        {"65536", 65536}, {"65537", 65536}, {"99999999999999999999999", 65536},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kam::list_width(c.text), c.width) << c.text;
}

}  // namespace

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>

namespace {

// Every name reads back as the same bytes (or, not being UTF-8, as their Latin-1 reading), and
// every field as the index holds it.
TEST(BundleListingTest, JsonReadsBackForEveryName) {
    kam::BundleIndex index;
    auto& root = index.mutable_root();
    const std::vector<std::pair<std::string, std::string>> names = {
        {"quote\"", "quote\""},
        {"tab\tnew\nline", "tab\tnew\nline"},
        {"\x7f", "\x7f"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"bad\xff", "bad\xc3\xbf"},
        {"cut\xc3", "cut\xc3\x83"},
        {"\xed\x9f\xbf-\xed\xa0\x80", "\xed\x9f\xbf-\xc3\xad\xc2\xa0\xc2\x80"},
    };
    for (const auto& [name, read] : names)
        root[kam::BundleName(name)].size = 7;
    kam::BundleEntry& dir = root[kam::BundleName("dir")];
    dir.directory = std::make_unique<kam::BundleEntryMap>();
    (*dir.directory)[kam::BundleName("inner")].visible = 0;
    std::ostringstream out;
    kam::BundleLister(index, 79, out).list_json("\\", true);
    const auto entries = nlohmann::json::parse(out.str());
    ASSERT_EQ(entries.size(), names.size() + 2);
    std::set<std::string> paths;
    for (const auto& entry : entries)
        paths.insert(entry["path"].get<std::string>());
    for (const auto& [name, read] : names)
        EXPECT_EQ(paths.count(read), 1u) << read;
    const auto inner = std::find_if(entries.begin(), entries.end(), [](const auto& entry) {
        return entry["path"] == "dir\\inner";
    });
    ASSERT_NE(inner, entries.end());
    EXPECT_EQ((*inner)["visible"], false);
    EXPECT_EQ((*inner)["kind"], "file");
}

}  // namespace
#endif
