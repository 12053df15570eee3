// The text parser: the dialect's trees, every error with its line, encodings, truncation,
// and the buffer scanning that must read exactly as the one-code-point reader does.
#include "xml/xml_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "xml/xml_test_support.h"

namespace {

using test::parse;

// An input and the tree or error it gives.
using Case = std::pair<std::string, std::string>;

TEST(XMLParserTest, BuildsTheTreesOfTheDialect) {
    const Case cases[] = {
        {"<a/>", "a"},
        {"<a x=\"1\" x=\"2\"/>", "a[x=1 x=2]"},
        {"<a>t<b/>u<c/></a>", "a{\"t\" b \"u\" c}"},
        {"<a>  <b/>  </a>", "a{b}"},
        {"<a> \r\n\t\f </a>", "a"},
        {"<a>\fx</a>", "a{\"\fx\"}"},
        {"<a>x<!---->y<!-- a--b --->z</a>", "a{\"xyz\"}"},
        {"<a>x<![CDATA[<b>]]>y</a>", "a{\"x<b>y\"}"},
        {"<a><![CDATA[1<!--x-->2]]]]></a>", "a{\"12]]\"}"},
        {"<a><![CDATA[&amp; @w]]></a>", "a{\"&amp; @w\"}"},
        {"<a>a &amp; &lt;&gt;&apos;&quot;&#10;</a>", "a{\"a & <>'\"\n\"}"},
        {"<a>&copy;</a>", "false a{\"&copy;\"}"},
        {"<a>&#13;<b/></a>", "false a{\"&#13;\" b}"},
        {"<a v='x &amp; y' w=\"x &amp; y\"/>", "a[v=x &amp; y w=x & y]"},
        {"<a v=\"1<!--x-->2\" w='3<!---->4'/>", "a[v=12 w=34]"},
        {"<a<!--x-->b/>", "ab"},
        {"<a b=c\nd e=f\tg/>", "a[b=c d= e=f g=]"},
        {"<a b=c/>", "a[b=c]"},
        {"<a b=>", "error #internal_file (1): Unexpected end of file"},
        {"<a  x = \"1\"\n/>", "a[x=1]"},
        {"<a x=\"1\"y='2'/>", "a[x=1 y=2]"},
        {"<a></a  >", "a"},
        {"<n:a_1.b/>", "error #internal_file (1): Expected identifier"},
        {"<n:a_1 x/>", "n:a_1[x=]"},
        {"<a>1 > 2 ] ]]> '\"</a>", "a{\"1 > 2 ] ]]> '\"\"}"},
        {"<a>x</a>trailing <<&junk", "a{\"x\"}"},
        {"<?XmL version='1.0' standalone=yes ?>\n<a/>", "a"},
        {"<!-- c --><?xml version=\"1.0\"?><a/>", "a"},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE a SYSTEM \"a.dtd\">\n<!-- c -->\n<a/>", "a"},
        {"<!DOCTYPE a [<!ELEMENT a>]><a/>", "error #internal_file (1): Expected <"},
        {"<?pi x?><a/>", "error #internal_file (1): Expected identifier"},
        {" <?xml version=\"1.0\"?><a/>", "error #internal_file (1): Expected identifier"},
        {"<a><xi:include href=\"#x\" parse=\"text\">fallback</xi:include></a>", "a"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(parse(input), expected) << input;
}

TEST(XMLParserTest, ReportsEachErrorWithItsLine) {
    const Case cases[] = {
        {"ab", "Archive #internal_file empty"},
        {std::string(4, '\0'), "Error in archive #internal_file"},
        {"\x4C\x6F\xA7\x94", "Error in archive #internal_file EBCDIC not supported"},
        {"    ", "#internal_file (1): Unexpected end of file"},
        {"<!-- c -->\n\n", "#internal_file (3): Unexpected end of file"},
        {"hello", "#internal_file (1): Expected <"},
        {"<abc", "#internal_file (1): Unexpected end of file"},
        {"<a x", "#internal_file (1): Unexpected end of file"},
        {"<a>text", "#internal_file (1): Unexpected end of file"},
        {"<a x=\"1></a>", "#internal_file (1): Unexpected end of file"},
        {"<a x='1></a>", "#internal_file (1): Unexpected end of file"},
        {"<a>&amp</a>", "#internal_file (1): Unexpected end of file"},
        {"<a><![CDATA[x]]</a>", "#internal_file (1): Unexpected end of file"},
        {"<a>\n<!-- x\n", "#internal_file (3): XML parser: expected -->"},
        {"<a>\n\n<b>\n</c>", "#internal_file (4): Identifiers must match"},
        {"<a><b></a>", "#internal_file (1): Identifiers must match"},
        {"<1/>", "#internal_file (1): Expected identifier"},
        {"<a/ >", "#internal_file (1): Expected >"},
        {"<a></a x>", "#internal_file (1): Expected >"},
        {"<a><![CDAT[x]]></a>", "#internal_file (1): Expected A"},
        {"<a><!DOCTYPE></a>", "#internal_file (1): Expected ["},
        {"<a>x<!-\n--></a>", "#internal_file (2): Expected ["},
        {"<?xml version=\"1.0", "#internal_file (1):  Unmatched \""},
        {"<?xml version='1.0", "#internal_file (1):  Unmatched '"},
        {"<?xml 1=\"x\"?><a/>", "#internal_file (1): Expected > or identifier"},
        {"<?xml version=\"1.0\" encoding=\"utf8\"?><a/>",
         "#internal_file (1): Encoding utf8 not valid"},
        {"<?xml version=1.0", "#internal_file (1): Expected > or identifier"},
        {"<!DOCTYPE a", "#internal_file (1): Unexpected end of file"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(parse(input), "error " + expected) << input;
}

TEST(XMLParserTest, CountsLinesFromWhereEachNodeBegan) {
    const std::string lf = "<a>\n  x\n  <b\n  y=\"1\"/>\n  <!-- c\n -->\n  <c>z</c>\n</a>\n";
    const std::string expected = "a:1{\"\n  x\n  \":1 b[y=1]:3 c:7{\"z\":7}}";
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        std::string text;
        for (char c : lf)
            text += c == '\n' ? end : std::string(1, c);
        EXPECT_EQ(parse(text, true), expected) << text;
    }
}

TEST(XMLParserTest, DecodesEveryEncodingToUtf8) {
    // ASCII in code units of width bytes, after a byte order mark unless bom is false.
    const auto encoded = [](const std::string& ascii, int width, bool little, bool bom = true) {
        std::string out;
        const auto unit = [&](unsigned code) {
            for (int i = 0; i < width; ++i)
                out += static_cast<char>(code >> 8 * (little ? i : width - 1 - i));
        };
        if (bom)
            unit(0xFEFF);
        for (char c : ascii)
            unit(static_cast<unsigned char>(c));
        return out;
    };
    const Case cases[] = {
        {"<a>\xE9</a>", "a{\"\xC3\xA9\"}"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9\xE2\x82\xAC</a>",
         "a{\"\xC3\xA9\xE2\x82\xAC\"}"},
        {"<?xml encoding='Utf-8'?><a x=\"\xF0\x9F\x98\x80\"/>", "a[x=\xF0\x9F\x98\x80]"},
        {"\xEF\xBB\xBF<a>\xC3\xA9</a>", "a{\"\xC3\xA9\"}"},
        {"\xEF\xBB\xBF<?xml encoding=\"koi8\"?><a/>", "a"},
        {"\xEF\xBB\xBF<a><xdefine name=\"e\" value=\"\xE2\x82\xAC\"/>@e</a>",
         "a{@e(\xE2\x82\xAC) \"\xE2\x82\xAC\"}"},
        // Continuation bytes are not checked, and a byte that cannot lead ends the input.
        {"\xEF\xBB\xBF<a>\xC3\x41</a>", "a{\"\xC3\x81\"}"},
        {"\xEF\xBB\xBF<a>x\x80</a>", "error #internal_file (1): Unexpected end of file"},
        {encoded("<a>x</a>", 2, true), "a{\"x\"}"},
        {encoded("<a>x</a>", 2, true, false), "a{\"x\"}"},
        {encoded("<a>x</a>", 2, false), "a{\"x\"}"},
        {encoded("<a>x</a>", 4, true), "a{\"x\"}"},
        {encoded("<a>x</a>", 4, false), "a{\"x\"}"},
        {std::string("\xFF\xFE<\0a\0>\0\x3D\xD8\x00\xDE<\0/\0a\0>\0", 20),
         "a{\"\xF0\x9F\x98\x80\"}"},
        {std::string("\xFF\xFE<\0a\0>\0\r\0\0\0", 12),
         "error #internal_file (2): Unexpected end of file"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(parse(input), expected) << input;
}

TEST(XMLParserTest, NestingDeeperThanTheLimitIsAnError) {
    EXPECT_EQ(parse(test::nested(1000)).rfind("a{a{", 0), 0u);
    for (int depth : {1001, 100000}) {
        EXPECT_EQ(parse(test::nested(depth)),
                  "error #internal_file (1): Elements nested deeper than 1000");
    }
}

// The buffer scanning must be invisible: every prefix, and each sample less any one byte, gives the
// same tree with the same lines, or the same error on the same line, both ways. A prefix cut before
// the root ends fails whole, errors caught or not. Random mangling is the fuzz target's work.
TEST(XMLParserTest, BufferScanningReadsExactlyAsTheReaderAndCutsFailCleanly) {
    const std::string samples[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE x><!-- h -->\n"
        "<r a=\"1\" b='2' c=3>\n"
        " <xdefine name=\"w\" value=\"10\"/><xdefine name=\"m(p)\">[<q v='$p'/>]</xdefine>\n"
        " <e x=\"@w &amp;\">t @m(5) &lt;<![CDATA[d]]>\xC3\xA9<!-- c --></e>\r\n <f/>\r</r>\n",
        "<a>\n<b c=\"d\">\xE9\xFF text &quot;</b><!---->\n<c/>\n</a>",
        "\xEF\xBB\xBF<a><b>\xE2\x82\xAC\xF0\x9F\x98\x80<![CDATA[]]]]></b>\n</a>",
    };
    for (const std::string& sample : samples) {
        for (size_t at = 0; at < sample.size(); ++at) {
            for (const std::string& text :
                 {sample.substr(0, at), std::string(sample).erase(at, 1)}) {
                kam::detail::xml_fast_paths = false;
                const std::string slow = parse(text, true);
                kam::detail::xml_fast_paths = true;
                ASSERT_EQ(parse(text, true), slow) << text;
            }
            if (at > sample.rfind('>'))
                continue;
            const std::string prefix = sample.substr(0, at);
            EXPECT_TRUE(parse(prefix).starts_with(at ? "error " : "false none")) << prefix;
            // A failed parse leaves no trace of the last good one, an empty input's included.
            kam::XMLDocument document;
            ASSERT_TRUE(document.parse_memory(sample));
            EXPECT_FALSE(document.parse_memory(prefix)) << prefix;
            EXPECT_EQ(document.root().kind(), kam::NODE_NONE);
        }
    }
}

}  // namespace
