// The canonical path form and the small path helpers.
#include "utility/path.h"

#include <gtest/gtest.h>

namespace {

TEST(PathTest, NormalizePathTable) {
    const struct {
        const char* path;
        bool trailing;
        bool leading;
        const char* expected;
    } cases[] = {
        {"/Data//Sub\\File.TXT/", false, false, "data\\sub\\file.txt"},
        {"/Data//Sub\\File.TXT/", true, false, "data\\sub\\file.txt\\"},
        {"/Data//Sub\\File.TXT/", false, true, "\\data\\sub\\file.txt"},
        {"Data//Units/Tank.XML", false, false, "data\\units\\tank.xml"},
        {"", true, true, ""},
        {"/", false, false, ""},
        {"/", true, false, ""},
        {"//", true, true, "\\"},
        {"\\\\server\\Share", false, true, "\\server\\share"},
        {"a", true, false, "a\\"},
        {"a\\\\\\", true, false, "a\\"},
        {"\xc3\x84Z", false, false, "\xc3\x84z"},
        {"D:\\Game\\", true, false, "d:\\game\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kam::normalize_path(c.path, c.trailing, c.leading), c.expected)
            << c.path << " " << c.trailing << c.leading;
    }
}

TEST(PathTest, SmallHelpers) {
    // Case folding: the bytes either side of each letter range, and bytes above ASCII.
    EXPECT_EQ(kam::fold_case(std::string("@AZ[`az{\xc4\xe4")), "@az[`az{\xc4\xe4");
    EXPECT_EQ(kam::join_path("data", "a.xml"), "data\\a.xml");
    EXPECT_EQ(kam::join_path("data\\", "a.xml"), "data\\a.xml");
    EXPECT_EQ(kam::join_path("data/", "a.xml"), "data/a.xml");
    EXPECT_EQ(kam::join_path("", "a.xml"), "a.xml");
    EXPECT_EQ(kam::file_name("data\\units/tank.xml"), "tank.xml");
    EXPECT_EQ(kam::file_name("tank.xml"), "tank.xml");
    EXPECT_EQ(kam::file_name("data\\"), "");
    EXPECT_EQ(kam::extension("data\\tank.xml"), ".xml");
    EXPECT_EQ(kam::extension("a.b.KSF"), ".KSF");
    EXPECT_EQ(kam::extension("readme"), "");
    EXPECT_EQ(kam::extension("dir.v2\\readme"), ".v2\\readme");
    EXPECT_EQ(kam::find_separator("ab/c\\d", 3), 4u);
    EXPECT_EQ(kam::find_separator("abc"), std::string_view::npos);
    EXPECT_EQ(kam::find_last_separator("a\\b/c"), 3u);
    EXPECT_EQ(kam::find_last_separator("abc"), std::string_view::npos);
}

}  // namespace
