// xdefine macros as content uses them: values, parameters, expressions, scopes and guards.
#include "xml/xml_define.h"

#include <gtest/gtest.h>

#include "xml/xml_test_support.h"

namespace {

using test::parse;

struct Case {
    std::string input;
    std::string expected;
};

TEST(XMLDefineTest, ExpandsReferencesInTextAndDoubleQuotedValues) {
    // Each input is the body of an element r.
    const Case cases[] = {
        {"<xdefine name=\"w\" value=\"10\"/><a width=\"@w\" w='@w'/>",
         "r{@w(10) a[width=10 w=@w]}"},
        {"<xdefine name=\" w \n\" value=\"10\"/><a>@w</a>", "r{@w(10) a{\"10\"}}"},
        {"<xdefine name=\"half(x)\" expression=\"$x / 2\"/><a v=\"@half(5)\"/>",
         "r{@half($x,$x / 2)= a[v=2.500000]}"},
        {"<xdefine name=\"m(a, ab)\" value=\"$ab+$a\"/><a>@m(1, 2)</a>",
         "r{@m($a,$ab,$ab+$a) a{\"2+1\"}}"},
        {"<xdefine name=\"w\" value=\"10\"/><a>@wide @w</a>", "r{@w(10) a{\"@wide @w\"}}"},
        {"<xdefine name=\"w\" value=\"10\"/><a>@unknown @w @w,@w</a>",
         "r{@w(10) a{\"@unknown 10 10,10\"}}"},
        {"<xdefine name=\"b\"><b x=\"1\"/></xdefine><a>x@b y</a>",
         "r{@b(<b x=\"1\"/>) a{\"x\" b[x=1] \" y\"}}"},
        {"<xdefine name=\"q\" value=\"1&quot; z=&quot;2\"/><a v=\"@q\"/>",
         "r{@q(1\" z=\"2) a[v=1 z=2]}"},
        {"<xdefine name=\"e\" value=\"&amp;lt;\"/><a>@e</a>", "r{@e(&lt;) a{\"<\"}}"},
        {"<xdefine name=\"w\" value=\"1\"/><xdefine name=\"v\" value=\"@w@w\"/><a>@v</a>",
         "r{@w(1) @v(11) a{\"11\"}}"},
        {"<xdefine name=\"v\" value=\"@w\"/><xdefine name=\"w\" value=\"2\"/><a>@v</a>",
         "r{@v(@w) @w(2) a{\"2\"}}"},
        {"<xdefine name=\"w\" value=\"1\"/><xdefine name=\"w\" value=\"2\"/><a>@w</a>",
         "r{@w(1) @w(2) a{\"2\"}}"},
        {"<g><xdefine name=\"w\" value=\"1\"/><a>@w</a></g><a>@w</a>",
         "r{g{@w(1) a{\"1\"}} a{\"@w\"}}"},
        {"<xdefine name=\"w\" value=\"1\"/><g><xdefine name=\"w\" value=\"2\"/></g><a>@w</a>",
         "r{@w(1) g{@w(2)} a{\"1\"}}"},
        {"<xdefine name=\"k\" expression=\"rnd * 0 + 7\" value=\"x\"/><a>@k</a>",
         "r{@k(rnd * 0 + 7)= a{\"7.000000\"}}"},
        {"<xdefine name=\"m()\" value=\"[$]\"/><a>@m()</a>", "r{@m($,[$]) a{\"[]\"}}"},
        // Text around an expansion is decoded once, not again with what the define wrote.
        {"<xdefine name=\"s\" value=\"4\"/><e a=\"@s &amp; &quot;x\">&lt;b&gt; @s &amp;amp;</e>",
         "r{@s(4) e[a=4 & \"x]{\"<b> 4 &amp;\"}}"},
        {"<xdefine name=\"s\" value=\"&amp;lt;\"/><e>@s&amp;lt;</e>", "r{@s(&lt;) e{\"<&lt;\"}}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse("<r>" + c.input + "</r>"), c.expected) << c.input;
}

TEST(XMLDefineTest, ReportsMisuseAsParseErrors) {
    const Case cases[] = {
        {"<r><xdefine name=\"m(a,b)\" value=\"$a$b\"/>\n<a>@m(1)</a></r>",
         "#internal_file (2): Wrong number of macro parameters to @m"},
        {"<r><xdefine name=\"m(a)\" value=\"$a\"/><a>@m x</a></r>",
         "#internal_file (1): Wrong number of macro parameters to @m"},
        {"<r><xdefine name=\"m(a)\" value=\"$a\"/><a>@m) (1</a></r>",
         "#internal_file (1): Wrong number of macro parameters to @m"},
        {"<r><xdefine name=\"f\" expression=\"foo\"/><a>@f</a></r>",
         "#internal_file (1): Unknown identifier foo"},
        {"<r><xdefine name=\"w\" value=\"a@w\"/><a>@w</a></r>",
         "#internal_file (1): Define @w expands without end"},
        {"<r><xdefine name=\"w\" value=\"@w;\"/><a v=\"@w\"/></r>",
         "#internal_file (1): Define @w expands without end"},
        {"<r><xdefine name=\"m(a)\" value=\"@m($a)\"/><a>@m(1)</a></r>",
         "#internal_file (1): Define @m expands without end"},
        {"<r><xdefine name=\"w\">x</r>", "#internal_file (1): Unexpected end of file"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.input), "error " + c.expected) << c.input;
}

TEST(XMLDefineTest, ExpansionsOfOneLoadAddAtMost64MB) {
    // Sixteen-fold per define: f is 16 MB, and two more defines that repeat it pass the allowance.
    // Single quotes leave the bodies to the define's own expansion, which the parser reads once.
    std::string chain = "<r><xdefine name=\"a\" value=\"xxxxxxxxxxxxxxxx\"/>";
    const std::string names = "abcdef";
    for (size_t i = 1; i < names.size(); ++i) {
        std::string body;
        for (int n = 0; n < 16; ++n)
            body += std::string("@") + names[i - 1];
        chain += "<xdefine name=\"" + names.substr(i, 1) + "\" value='" + body + "'/>";
    }
    // A body naming its parameter a thousand times, given an argument of 70 000 bytes.
    std::string many(1000 * 2, '$');
    for (size_t i = 1; i < many.size(); i += 2)
        many[i] = 'p';
    for (const std::string& input :
         {chain + "<xdefine name=\"g\" value='@f@f'/><xdefine name=\"h\" value='@f@f'/></r>",
          "<r><xdefine name=\"m(p)\" value=\"" + many + "\"/><a>@m(" + std::string(70000, 'x') +
              ")</a></r>"}) {
        EXPECT_EQ(parse(input).substr(0, 200),
                  "error #internal_file (1): Defines expand to more than 64 MB");
    }
}

TEST(XMLDefineTest, LegitimateRepetitionIsNotMistakenForRecursion) {
    std::string text = "<r><xdefine name=\"w\" value=\"w\"/><a>";
    for (int i = 0; i < 5000; ++i)
        text += "@w ";
    text += "@@@@@w</a></r>";
    const std::string result = parse(text);
    EXPECT_EQ(result.find("error"), std::string::npos);
    EXPECT_NE(result.find("w w w"), std::string::npos);
}

TEST(XMLDefineTest, ScopesHideAndRestoreDefines) {
    kam::XMLDefineList list;
    auto make = [](const char* name, const char* body) {
        auto define = std::make_unique<kam::XMLDefine>();
        define->declare(name);
        define->body = body;
        return define;
    };
    list.add(make("a", "1"));
    list.open_scope();
    list.add(make("a", "2"));
    EXPECT_EQ(list.expand("@a"), "2");
    const auto state = list.state();
    list.open_scope();
    list.add(make("b", "3"));
    list.restore(state);
    EXPECT_EQ(list.expand("@b"), "@b");
    list.close_scope();
    EXPECT_EQ(list.expand("@a"), "1");
    list.close_scope();
    EXPECT_EQ(list.size(), 1u);
}

}  // namespace
