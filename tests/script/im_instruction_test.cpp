// Listings and code of the intermediate instructions.
#include "script/im_instruction.h"

#include <gtest/gtest.h>

#include "script/script_test_support.h"

namespace {

using kam::script::Parser;
using kam::script::StringScanner;
using Bytes = std::vector<std::uint8_t>;

// The golden listings were derived by hand from the code rules, line by line.
TEST(ImInstructionTest, ListingsOfCompletePrograms) {
    for (const char* name : {"statements", "expressions", "loops", "two_variable_for"}) {
        const auto result = test::compile_script(test::read_data(std::string(name) + ".ksf"));
        EXPECT_TRUE(result.accepted) << name << "\n" << result.errors;
        EXPECT_EQ(result.listing, test::read_data(std::string(name) + ".lst")) << name;
    }
}

TEST(ImInstructionTest, NamesResolveToTheNearestDeclaration) {
    const std::pair<const char*, const char*> cases[] = {
        {"object a; f() { object a; a := 1; }", "\tpush\t&a\t;&local[0]\n"},
        {"import x.b; f() { b.c(); }", "\tpush\tb\t;global[0]\n"},
        {"class C { object m; f() { { m := 1; } } }", "\tpush\t&m\t;&class[0]\n"},
        {"f(p) { { object q; { object r; r := q; } } }",
         "\tpush\t&r\t;&local[2]\n\tpush\tq\t;local[1]\n"},
        {"f() { object y := 1; }",
         "\tresize_local\t1\n\tpush\t&y\t;&local[0]\n\tpush\t1\n\tassign\n"},
    };
    for (const auto& [source, lines] : cases) {
        const auto result = test::compile_script(source);
        EXPECT_TRUE(result.accepted) << source;
        EXPECT_NE(result.listing.find(lines), std::string::npos) << source << "\n"
                                                                 << result.listing;
    }
}

TEST(ImInstructionTest, MemberAccessAndConversions) {
    StringScanner scanner("class C { object m; g(a) { m := this.k(a.b, 'x').number; } k() {} }");
    Parser parser(scanner);
    ASSERT_TRUE(parser.parse()) << parser.error_text();
    EXPECT_EQ(
        test::emit_all(parser),
        (Bytes{39, 1, 39,  1, 15, 0, 11, 44, 'k', 0, 0,  0,  0,  16, 0, 44, 'b', 0,  0, 0,  0, 47,
               46, 7, 'x', 0, 0,  0, 0,  46, 45,  2, 18, 47, 40, 39, 1, 10, 0,   39, 0, 10, 0}));
    // A member instruction named like a conversion writes the conversion.
    kam::script::CodeBuffer code;
    for (const std::string name : {"number", "string", "boolean"})
        Parser::ImMember(name).emit(code, parser, 0);
    EXPECT_EQ(code.code(), (Bytes{18, 19, 20}));
}

}  // namespace
