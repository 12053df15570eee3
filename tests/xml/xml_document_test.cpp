// Loading: binary or text, staleness, includes with fragments, dependencies and cycles.
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "utility/virtual_file_system.h"
#include "xml/xml_test_support.h"

namespace {

class XMLDocumentTest : public testing::Test {
protected:
    XMLDocumentTest() { files.mount("/", &disk, false); }
    ~XMLDocumentTest() override { kam::xml_write_binary = false; }

    std::string load(const std::string& path) {
        kam::XMLDocument document;
        const bool loaded = document.load(path);
        std::string deps;
        for (const auto& dependency : document.dependencies)
            deps += " " + dependency;
        return (loaded ? "" : "false ") + test::dump(document.root(), true) +
               (deps.empty() ? "" : " |" + deps);
    }

    // The message of a load with errors passed on.
    static std::string load_error(const std::string& path) {
        kam::xml_catch_parse_errors = false;
        const std::string what =
            test::error_of<kam::XMLParseError>([&] { kam::XMLDocument().load(path); });
        kam::xml_catch_parse_errors = true;
        return what;
    }

    test::MemoryFileSystem disk;
    kam::VirtualFileSystem files;
};

TEST_F(XMLDocumentTest, SetPathSplitsTheCanonicalFormAndIncludesResolveAgainstIt) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"Data//Units/Tank.XML", "data\\units\\", "tank.xml"},
        {"tank.xml", "", "tank.xml"},
        {"\\shared\\a.xml", "shared\\", "a.xml"},
    };
    for (const auto& [path, directory, name] : cases) {
        kam::XMLDocument document;
        document.set_path(path);
        EXPECT_EQ(document.directory(), directory);
        EXPECT_EQ(document.name(), name);
    }
    // Includes resolve against the directory (the loads below show the common cases), never above
    // the root.
    kam::XMLDocument document;
    document.set_path("data\\units\\tank.xml");
    EXPECT_EQ(document.resolve_include("..\\..\\..\\x.xml"), "x.xml");
    EXPECT_EQ(document.resolve_include("\\shared\\a.xml"), "\\shared\\a.xml");
}

TEST_F(XMLDocumentTest, IncludesSelectedNodesAndRecordsDependencies) {
    disk.write("data\\common\\base.xml",
               "<materials><xdefine name=\"w\" value=\"7\"/>text<group><item v=\"1\"/><other/>"
               "<item v=\"2\"/></group><metal/><xi:include href=\"deep.xml\"/></materials>");
    disk.write("data\\common\\deep.xml", "<deep><d/></deep>");
    disk.write("shared\\a.xml", "<s><from_shared/></s>");
    disk.write("data\\units\\tank.xml",
               "<tank>\n<xi:include href=\"../common/base.xml\"/>\n<use w=\"@w\"/>\n"
               "<xinclude:include href=\"../common/base.xml#xpointer(/materials/group/item)\"/>\n"
               "<xi:include href=\"/shared/a.xml\"/><xi:include href=\"missing.xml\"/>"
               "<xi:include href=\"../common/base.xml# xpointer( /nothing/*)\"/></tank>");
    EXPECT_EQ(
        load("data\\units\\tank.xml"),
        "tank:1{group:1{item[v=1]:1 other:1 item[v=2]:1} metal:1 d:1 use[w=7]:3 item[v=1]:1 "
        "item[v=2]:1 from_shared:1} | /shared/a.xml data\\common/base.xml data\\common\\deep.xml "
        "data\\units\\missing.xml");
}

TEST_F(XMLDocumentTest, IncludedFilesSeeAndExtendTheDefinesInScope) {
    disk.write("inc.xml",
               "<i><xdefine name=\"v\" value=\"@w+1\"/><e a=\"@w\"/><xdefine name=\"x\" "
               "value=\"3\"/></i>");
    disk.write(
        "main.xml",
        "<m><g><xdefine name=\"w\" value=\"1\"/><xi:include href=\"inc.xml\"/><u a=\"@v @x\"/></g>"
        "<u a=\"@v\"/></m>");
    EXPECT_EQ(load("main.xml"), "m:1{g:1{@w(1):1 e[a=1]:1 u[a=1+1 3]:1} u[a=@v]:1} | inc.xml");
}

TEST_F(XMLDocumentTest, UsesTheBinaryFormOnlyWhileItIsUpToDate) {
    kam::xml_write_binary = true;
    disk.write("inc.xml", "<i><x/></i>");
    disk.write("a.xml", "<a>\n<xi:include href=\"inc.xml\"/></a>");
    EXPECT_EQ(load("a.xml"), "a:1{x:1} | inc.xml");
    ASSERT_TRUE(disk.exists("a.xmb"));
    ASSERT_TRUE(disk.exists("inc.xmb"));
    kam::xml_write_binary = false;
    EXPECT_EQ(load("a.xml"), "a:0{x:0} | inc.xml");  // line 0: read from the binary form

    disk.write("inc.xml", "<i><y/></i>");  // newer than a.xmb
    EXPECT_EQ(load("a.xml"), "a:1{y:1} | inc.xml");
    kam::xml_check_dependencies = false;
    EXPECT_EQ(load("a.xml"), "a:0{x:0} | inc.xml");
    kam::xml_check_dependencies = true;

    disk.write("a.xml", "<a><z/></a>");  // newer than a.xmb
    EXPECT_EQ(load("a.xml"), "a:1{z:1}");

    disk.write("a.xmb", std::string("XML\x02", 4));
    EXPECT_EQ(load("a.xml"), "a:1{z:1}");
    disk.write("a.xmb", std::string("XML\x01garbage", 11));
    EXPECT_EQ(load("a.xml"), "false none:0");

    disk.write("only.xmb", disk.files["inc.xmb"].bytes);
    EXPECT_EQ(load("only.xml"), "i:0{x:0}");
    EXPECT_EQ(load("nothing.xml"), "false none:0");
}

TEST_F(XMLDocumentTest, AnIncludeCycleFailsEveryFileOnIt) {
    kam::xml_write_binary = true;
    disk.write("self.xml", "<s><xi:include href=\"SELF.xml\"/></s>");
    disk.write("a.xml", "<a><xi:include href=\"b.xml\"/></a>");
    disk.write("b.xml", "<b>\n<xi:include href=\"a.xml\"/></b>");
    EXPECT_EQ(load("self.xml"), "false none:0");
    EXPECT_EQ(load("a.xml"), "false none:0 | b.xml");
    EXPECT_FALSE(disk.exists("a.xmb"));
    EXPECT_FALSE(disk.exists("b.xmb"));

    EXPECT_EQ(load_error("a.xml"), "a.xml (1): b.xml (2): Recursive include of a.xml");

    disk.write("d1.xml", "<d><xi:include href=\"leaf.xml\"/><xi:include href=\"leaf.xml\"/></d>");
    disk.write("leaf.xml", "<l><x/></l>");
    // The second include reads the binary form the first one wrote.
    EXPECT_EQ(load("d1.xml"), "d:1{x:1 x:0} | leaf.xml");
}

TEST_F(XMLDocumentTest, IncludesMultiplyingEachOtherStopAt10000) {
    // 30 × 30 × 30 includes of a leaf: no cycle, but 27930 loads.
    const auto repeat = [](const std::string& tag, const std::string& href) {
        std::string text = "<" + tag + ">";
        for (int i = 0; i < 30; ++i)
            text += "<xi:include href=\"" + href + "\"/>";
        return text + "</" + tag + ">";
    };
    disk.write("top.xml", repeat("t", "a.xml"));
    disk.write("a.xml", repeat("a", "b.xml"));
    disk.write("b.xml", repeat("b", "leaf.xml"));
    disk.write("leaf.xml", "<l><x/></l>");
    EXPECT_EQ(load("top.xml"), "false none:0 | a.xml b.xml leaf.xml");
    // 930 loads: the count starts again with every outermost load.
    for (int twice = 0; twice < 2; ++twice)
        EXPECT_FALSE(load("a.xml").starts_with("false"));
    EXPECT_EQ(load_error("top.xml"),
              "top.xml (1): a.xml (1): b.xml (1): More than 10000 includes in one load");
}

TEST_F(XMLDocumentTest, NestingCountsOnAcrossIncludes) {
    disk.write("deep.xml", test::nested(500));
    disk.write("shallow.xml", test::nested(400, "<xi:include href=\"deep.xml\"/>"));
    disk.write("too_deep.xml", test::nested(600, "<xi:include href=\"deep.xml\"/>"));
    EXPECT_FALSE(load("shallow.xml").starts_with("false"));
    EXPECT_EQ(load("too_deep.xml"), "false none:0 | deep.xml");
    EXPECT_FALSE(load("deep.xml").starts_with("false"));
}

}  // namespace
