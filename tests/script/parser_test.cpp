// What the parser accepts, and its exact messages for what it refuses.
#include "script/parser.h"

#include <gtest/gtest.h>

#include "script/script_test_support.h"

namespace {

using test::compile_script;

TEST(ParserTest, AcceptsTheLanguage) {
    // Long lists must not fill the state stack.
    std::string imports, statements, methods, names;
    for (int i = 0; i < 600; ++i) {
        const std::string n = std::to_string(i);
        imports += "import m.a" + n + ";\n";
        statements += "x := x + " + n + ";\n";
        methods += "m" + n + "() {}\n";
        names += (i ? ", p" : "p") + n;
    }
    const std::string sources[] = {
        imports + "object " + names + ";\nf(" + names + ") { object x;\n" + statements + "g(" +
            names + "); }\nclass C {\n" + methods + "}\n",
        // One source over two lines.
        ("import a.b.c, d; import e; object g, h; f() {} "
         "class C { object m; n(a, b,) { m := a; } } k() {}"),
        "f() { x := a or b and c; x := -a.b; x := a.number + b.string + c.boolean; g(); g(1,); }",
        "f() { x := " + std::string(200, '(') + "1" + std::string(200, ')') + "; }",
    };
    for (const std::string& source : sources) {
        const auto result = compile_script(source);
        EXPECT_TRUE(result.accepted) << source << "\n" << result.errors;
        EXPECT_EQ(result.errors, "") << source;
    }
}

TEST(ParserTest, ReportsEachMistakeWithItsMessage) {
    const std::pair<std::string, const char*> cases[] = {
        {"object x; object x;", "t.ksf(1):Can't name two objects the same \"x\""},
        {"object f;\nf() {}", "t.ksf(2):Identifier f already declared"},
        {"object y := 1;", "t.ksf(1):Global objects cannot have initializers."},
        {"class C { object m := 1; }", "t.ksf(1):Class objects cannot have initializers."},
        {"class C {} class C {}", "t.ksf(1):Identifier C already declared (class)"},
        {"f() {} class f {}", "t.ksf(1):Identifier f already declared (class)"},
        {"import a.b;\nimport c.b;", "t.ksf(2):Identifier already imported"},
        {"f(a, a) {}", "t.ksf(1):Can't name two parameters the same"},
        {"f() {\n for (k, k in m) {} }", "t.ksf(2):Variable name in for must be unique: \"k\""},
        {"f() { x := this.y; }", "t.ksf(1):\"this\" can only be used from within a class"},
        {"f() { this.x := 1; }",
         "t.ksf:syntax error\nt.ksf(1):Non valid statement (token:this)\nt.ksf(1):Non valid "
         "statement (token:.)"},
        {"f() { x := a < b < c; }", "t.ksf:syntax error\nt.ksf(1):Non valid statement (token:<)"},
        {"f() { if (a) x := 1; }", "t.ksf:syntax error"},
        {"f() { x := 1 }", "t.ksf:syntax error\nt.ksf(1):Non valid statement (token:})"},
        {"5 f() {}", "t.ksf:syntax error\nt.ksf(1):Unexpected token"},
        {"f() { x := a.; }",
         "t.ksf:syntax error\nt.ksf(1):Expected ID as member reference\nt.ksf(1):Non valid "
         "statement (token:})"},
        {"f() { while x {} }",
         "t.ksf:syntax error\nt.ksf(1):while: Expected \"( <test expression> )\""},
        {"f() { for x {} }", "t.ksf:syntax error\nt.ksf(1):for: Expected (<id> in <expr>)"},
        {"f() { if () {} }", "t.ksf:syntax error\nt.ksf(1):Not a valid test expression"},
        {"f() { if {} }",
         "t.ksf:syntax error\nt.ksf(1):if: error in statement\nt.ksf(1):Unexpected token"},
        {"class { }",
         "t.ksf:syntax error\nt.ksf(1):Undefined error while definine class\nt.ksf(1):Unexpected "
         "token"},
        {"class A { 5 }", "t.ksf:syntax error\nt.ksf(1):Undefined error while definine class body"},
        {"import ;", "t.ksf:syntax error\nt.ksf(1):Import error, undefined error in ID list"},
        {"object ;", "t.ksf:syntax error\nt.ksf(1):Error declaring objects"},
        {"f() 5 { }", "t.ksf:syntax error\nt.ksf(1):Expected \"{\"\nt.ksf(1):Unexpected token"},
        {"f() {\n x := [1]; }",
         "t.ksf(2):t.ksf(2): Unrecognized token\nt.ksf:syntax error\nt.ksf(2):Non valid statement "
         "(token::=)\n"
         "t.ksf(2):Non valid statement (token:1)\nt.ksf(2):t.ksf(2): Unrecognized token\n"
         "t.ksf(2):Non valid statement (token:1)"},
        // A message repeated at once is kept and counted once.
        {"object x, x, x;", "t.ksf(1):Can't name two objects the same \"x\""},
        // The input ends during recovery: the parse stops there.
        {"f() { x := ", "t.ksf:syntax error\nt.ksf(1):Non valid statement (token:)"},
        {"f() { x := " + std::string(500, '(') + "1; }", "t.ksf:parser stack overflow"},
    };
    for (const auto& [source, expected] : cases) {
        const auto result = compile_script(source);
        EXPECT_FALSE(result.accepted) << source;
        EXPECT_EQ(result.errors, expected) << source;
        EXPECT_EQ(
            result.error_count,
            static_cast<int>(std::count(result.errors.begin(), result.errors.end(), '\n')) + 1)
            << source;
    }
}

TEST(ParserTest, MessagesWithoutANameKeepTheirLine) {
    EXPECT_EQ(compile_script("object x;\nobject x;", "").errors,
              "(2):Can't name two objects the same \"x\"");
    // A scanner failure takes the line of the last token read: none before the first.
    EXPECT_EQ(compile_script("]", "").errors,
              "(0):(1): Unrecognized token\n:syntax error\n(0):Unexpected token");
}

}  // namespace
