// Declaration records, code offsets and failures of the code generator.
#include "script/code_generator.h"

#include <gtest/gtest.h>

#include "script/parser.h"

namespace {

using kam::script::CodeBuffer;
using kam::script::Parser;
using kam::script::StringScanner;
using Bytes = std::vector<std::uint8_t>;

struct Generated {
    bool ok = false;
    Bytes code;
    std::string errors;
};

// With emit_early each top-level function and class is emitted as it ends: the bytes and
// messages must be the same.
Generated generate_source(const std::string& source, bool emit_early,
                          const std::string& earlier_error = "") {
    StringScanner scanner(source, "t.ksf");
    Parser parser(scanner, emit_early);
    EXPECT_TRUE(parser.parse()) << source << "\n" << parser.error_text();
    if (!earlier_error.empty())
        parser.append_error(earlier_error);
    CodeBuffer code;
    Generated result;
    result.ok = kam::script::generate(parser, code);
    result.code = code.code();
    result.errors = parser.error_text();
    return result;
}

// Every expectation derived by hand: records first (line 0), function offsets patched to the
// first instruction of each function.
TEST(CodeGeneratorTest, RecordsAndCodeOfSmallPrograms) {
    const std::pair<const char*, Bytes> cases[] = {
        {"", {0}},
        // A call to a function declared later: global slot 1, resolved when emitted.
        {"f() { g(); }\ng() {}", {3, 21, 0, 0,  0, 'f', 0, 0, 0,  0, 3,  31, 0, 0,  0, 'g', 0, 0,
                                  0, 0,  0, 39, 0, 12,  1, 0, 45, 0, 21, 10, 0, 39, 0, 10,  0}},
        // Resize-locals for the parameters, after the parameter list and at the end of the body;
        // the branches of an if without else, of "and" and of a condition taken as a value.
        {"f(a) { if (a and a) { a := a + (a and a); } }",
         {3, 11, 0,  0,  0, 'f', 0,  0,  0,  0,  0,  39, 1, 39, 1,  16, 0,  43, 76, 0,
          0, 0,  41, 27, 0, 0,   0,  16, 0,  43, 76, 0,  0, 0,  41, 39, 0,  0,  0,  17,
          0, 16, 0,  16, 0, 43,  73, 0,  0,  0,  41, 55, 0, 0,  0,  16, 0,  43, 73, 0,
          0, 0,  41, 67, 0, 0,   0,  8,  41, 74, 0,  0,  0, 9,  22, 40, 39, 1,  10, 0}},
        // Global-scope order; a class lists its members and methods in its own order; functions
        // take their offsets in the order the parser met them.
        {"import a.b.c, d; object x, y; f() {} class K { object m; h() {} } g() {}",
         {1,   'a', '.', 'b', '.', 'c', 0,  1, 'd', 0,   0,   0, 0,  2, 'x', 0,   0,  0,  0, 2, 'y',
          0,   0,   0,   0,   3,   69,  0,  0, 0,   'f', 0,   0, 0,  0, 4,   'K', 0,  0,  0, 0, 2,
          'm', 0,   0,   0,   0,   3,   73, 0, 0,   0,   'h', 0, 0,  0, 0,   5,   3,  77, 0, 0, 0,
          'g', 0,   0,   0,   0,   0,   39, 0, 10,  0,   39,  0, 10, 0, 39,  0,   10, 0}},
    };
    for (const auto& [source, expected] : cases) {
        for (const bool emit_early : {false, true}) {
            const Generated result = generate_source(source, emit_early);
            EXPECT_TRUE(result.ok) << source << "\n" << result.errors;
            EXPECT_EQ(result.code, expected) << source << (emit_early ? " (early)" : "");
        }
    }
}

TEST(CodeGeneratorTest, FailuresJoinTheParsersErrorText) {
    std::string parameters = "p0";
    for (int i = 1; i < 256; ++i)
        parameters += ", p" + std::to_string(i);
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"f(" + parameters + ") {}", "", "t.ksf: More than 256 local variables not supported"},
        {"f() {\n x := 1; }", "", "t.ksf(2): Id not found \"x\""},
        // A local used before its declaration is not that local.
        {"f() { y := 1; object y; }", "", "t.ksf(1): Id not found \"y\""},
        {"f() { g(); }", "earlier", "earlier\nt.ksf(1): Id not found \"g\""},
        // The first failure in code order, whether it is found at once or when the source ends.
        {"f() { g(); }\nh(" + parameters + ") {}", "", "t.ksf(1): Id not found \"g\""},
        {"f(" + parameters + ") {}\nh() { g(); }", "",
         "t.ksf: More than 256 local variables not supported"},
    };
    for (const auto& [source, earlier, errors] : cases) {
        for (const bool emit_early : {false, true}) {
            const Generated result = generate_source(source, emit_early, earlier);
            EXPECT_FALSE(result.ok) << source;
            EXPECT_EQ(result.errors, errors) << (emit_early ? "early" : "");
        }
    }
}

}  // namespace
