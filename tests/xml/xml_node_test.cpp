// Nodes and the store their strings live in: what outlives a document, copies, moves within a
// tree, and changes to nodes that a parse or the binary reader made.
#include "xml/xml_node.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "xml/xml_test_support.h"

namespace {

const std::string long_value(300, 'v');
const std::string text = "<a x=\"1\" x=\"2\"><b y=\"" + long_value + "\">t<c/></b><d/></a>";
const std::string b_dump = "b[y=" + long_value + "]{\"t\" c}";

// The same tree parsed, or read back from its binary form.
std::unique_ptr<kam::XMLDocument> load(bool binary) {
    auto document = std::make_unique<kam::XMLDocument>();
    EXPECT_TRUE(document->parse_memory(text));
    if (!binary)
        return document;
    auto read = std::make_unique<kam::XMLDocument>();
    EXPECT_TRUE(test::read(*read, test::write(*document)));
    return read;
}

TEST(XMLNodeStoreTest, NodesOutliveTheirDocumentAndChangeAndMoveInATree) {
    for (bool binary : {false, true}) {
        auto document = load(binary);
        const kam::XMLNode& a = document->root();
        EXPECT_EQ(a.parameter("x"), "1");
        EXPECT_EQ(a.parameter("y"), "");
        EXPECT_EQ(a.child(-1), nullptr);
        EXPECT_EQ(a.child(2), nullptr);
        EXPECT_EQ(a.child(0)->child(0)->name(), "#text");
        EXPECT_EQ(a.child(1)->file(), binary ? "" : "#internal_file");
        kam::XMLNode moved = std::move(*document->root().child(0));
        const kam::XMLNode copied = document->root();
        document.reset();
        EXPECT_EQ(test::dump(moved), b_dump) << binary;
        EXPECT_EQ(test::dump(copied), "a[x=1 x=2]{none d}") << binary;
        moved.remove_children();
        EXPECT_EQ(test::dump(moved), "b[y=" + long_value + "]");

        document = load(binary);
        kam::XMLNode& root = document->root();
        // From a node's own descendant: the descendant goes with the old children.
        root = std::move(*root.child(0));
        EXPECT_EQ(test::dump(root), b_dump);
        kam::XMLNode& t = *root.child(0);
        t.set_text(std::string(t.text()) + "u");
        root.set_parameters(root.parameters());
        root.add_parameter(kam::intern("z"), root.parameter("y"));
        for (int i = 0; i < 40; ++i) {
            auto* child = new kam::XMLNode;
            child->set_kind(kam::NODE_TEXT);
            child->set_text(std::to_string(i));
            root.append_child(child);
        }
        EXPECT_EQ(root.num_children(), 42);
        EXPECT_EQ(root.child(41)->text(), "39");
        EXPECT_EQ(root.child(0)->text(), "tu");
        EXPECT_EQ(root.parameter("z"), long_value);
        root = *root.child(1);  // copied from its own descendant
        EXPECT_EQ(test::dump(root), "c");
        root.clear();
        EXPECT_EQ(test::dump(root), "none");
    }
}

}  // namespace
