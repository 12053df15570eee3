// The binary form: golden bytes, round trips, the header test and corrupt input of every kind.
#include "xml/xml_binary.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/error_of.h"
#include "utility/encoding.h"
#include "xml/xml_test_support.h"

namespace {

using test::read;
using test::write;

std::string u32(std::uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

const char* const rich =
    "<r a=\"r\" b='x'>\n <xdefine name=\"m(p, pq)\" expression=\"$pq + $p\"/>\n"
    " <e n=\"1\" n=\"@m(1, 2)\">t<![CDATA[<c>]]></e>\n <f/>text\xE9</r>";

TEST(XMLBinaryTest, SharesStringsInOrderOfFirstUseAndKeepsDefinesInline) {
    kam::XMLDocument document;
    ASSERT_TRUE(
        document.parse_memory("<r a=\"r\"><xdefine name=\"w\" value=\"1\"/>t<a a=\"t\"/></r>"));
    document.dependencies = {"z.xml", "b.xml"};
    const std::string expected =
        std::string("XML\x01", 4) + u32(3) + std::string("r\0a\0t\0", 6) + u32(1) + u32(0) +
        u32(1) + u32(1) + u32(0) + u32(3) +  // <r a="r"> with 3 children
        u32(4) + std::string("@w\0", 3) + u32(0) + u32(0) + std::string("1\0\0", 3) +  // define
        u32(2) + u32(2) +                                                              // text "t"
        u32(1) + u32(1) + u32(1) + u32(1) + u32(2) + u32(0) +                          // <a a="t"/>
        u32(2) + std::string("b.xml\0z.xml\0", 12);
    EXPECT_EQ(write(document), expected);
}

// The reader decodes through a window of 64 KB: a table, a string and a node list that span
// several windows read back whole, and a cut anywhere still fails.
TEST(XMLBinaryTest, ContentLargerThanTheReadersWindowReadsBackEqual) {
    const std::string long_value(150000, 'v');
    // Values that fill the writer's first table block and go on into the next, some used again.
    auto value = [](int i) { return "value " + std::to_string(i) + std::string(100, '.'); };
    std::string text = "<r v=\"" + long_value + "\">";
    for (int i = 0; i < 12000; ++i)
        text += "<e n=\"" + value(i) + "\"/>";
    text += "<e n=\"" + value(5) + "\" v=\"" + long_value + "\">" + value(11999) + "</e>";
    text += std::string(100000, 't') + "</r>";
    kam::XMLDocument document;
    ASSERT_TRUE(document.parse_memory(text));
    const std::string bytes = write(document);
    ASSERT_GT(bytes.size(), 3 * 65536u);
    for (const std::string& once : {value(5) + '\0', value(11999) + '\0', long_value + '\0'})
        EXPECT_EQ(bytes.find(once), bytes.rfind(once));

    kam::XMLDocument copy;
    ASSERT_TRUE(read(copy, bytes));
    EXPECT_EQ(test::dump(copy.root()), test::dump(document.root()));
    EXPECT_EQ(write(copy), bytes);
    for (size_t cut : {size_t{20}, size_t{65535}, size_t{65537}, size_t{150000}, bytes.size() / 2,
                       bytes.size() - 5, bytes.size() - 1}) {
        kam::XMLDocument truncated;
        EXPECT_FALSE(read(truncated, bytes.substr(0, cut))) << cut;
        EXPECT_EQ(truncated.root().kind(), kam::NODE_NONE);
    }
}

TEST(XMLBinaryTest, HeaderTestTellsVersionsAndStrangers) {
    const std::pair<std::string, int> cases[] = {
        {"XML", 0},
        {std::string("XML\x01", 4), 1},
        {std::string("XML\x02rest", 8), 2},
        {"XML\xFF", -1},
        {"XMX\x01", -1},
        {"<a/>", -1},
    };
    for (const auto& [bytes, version] : cases) {
        kam::Archive archive = test::archive_of(bytes, "t");
        EXPECT_EQ(kam::binary_xml_version(archive), version) << bytes;
        EXPECT_EQ(archive.position(), 0);
    }
    EXPECT_EQ(kam::binary_xml_path("units\\tank.xml"), "units\\tank.xmb");
    EXPECT_EQ(kam::binary_xml_path("a/n.txt"), "a/n.xmb");
    // No binary form: cutting four characters would reach the directory or give the source.
    for (const char* none : {"a", "d\\abc", "d/.abc", "x.b/cd", "a.XMB"})
        EXPECT_EQ(kam::binary_xml_path(none), "") << none;
}

TEST(XMLBinaryTest, AWrittenTreeReadsBackEqualAndEveryCorruptionFailsCleanly) {
    kam::XMLDocument document;
    ASSERT_TRUE(document.parse_memory(rich));
    document.dependencies = {"a\\b.xml", "c.xml"};
    const std::string bytes = write(document);

    kam::XMLDocument copy;
    copy.set_path("data\\copy.xml");
    ASSERT_TRUE(read(copy, bytes));
    EXPECT_EQ(test::dump(copy.root()), test::dump(document.root()));
    EXPECT_EQ(copy.dependencies, document.dependencies);
    EXPECT_EQ(copy.root().child(1)->file(), "data\\copy.xml");
    EXPECT_EQ(copy.root().child(0)->define(), document.root().child(0)->define());
    EXPECT_EQ(copy.root().child(0)->name(), "xdefine");
    EXPECT_EQ(write(copy), bytes);

    for (size_t length = 0; length < bytes.size(); ++length) {
        kam::XMLDocument truncated;
        EXPECT_FALSE(read(truncated, bytes.substr(0, length))) << length;
        EXPECT_EQ(truncated.root().kind(), kam::NODE_NONE);
    }
    const std::string head("XML\x01", 4), a("a\0", 2), b("b\0\0", 3);
    // Elements nested deeper than the reader goes.
    std::string deep = head + u32(1) + a;
    for (int i = 0; i < 2000; ++i)
        deep += u32(1) + u32(0) + u32(0) + u32(1);
    const std::string corrupt_files[] = {
        deep,
        head + u32(0xFFFFFFFF),
        head + u32(1) + a + u32(1) + u32(0) + u32(0x40000000),
        head + u32(1) + a + u32(1) + u32(0) + u32(0) + u32(0x7FFFFFFF),
        head + u32(1) + a + u32(1) + u32(7) + u32(0) + u32(0) + u32(0),
        head + u32(0) + u32(2) + u32(3) + u32(0),
        head + u32(0) + u32(3) + u32(0),  // no such node kind
        head + u32(0) + u32(4) + std::string("@m\0", 3) + u32(1) + std::string("$a\0", 3) + u32(1) +
            u32(5) + b + u32(0),
        // Define names without their "@": found by the identifier after it, they cannot be used.
        head + u32(0) + u32(4) + std::string("\0", 1) + u32(0) + u32(0) + b + u32(0),
        head + u32(0) + u32(4) + std::string("w\0", 2) + u32(0) + u32(0) + b + u32(0),
    };
    for (const std::string& corrupt : corrupt_files) {
        kam::XMLDocument target;
        EXPECT_FALSE(read(target, corrupt));
    }

    kam::XMLDocument target;
    kam::xml_catch_parse_errors = false;
    EXPECT_EQ(test::error_of([&] { read(target, bytes.substr(0, 20)); }),
              "Binary XML in.xmb is corrupt at byte 20");
    kam::xml_catch_parse_errors = true;
}

}  // namespace
