// Expression defines: precedence, vectors, constants, folding and malformed input.
#include "xml/expression_evaluator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/error_of.h"
namespace {
using kam::ExpressionEvaluator;

// The value, as %f prints it.
std::string evaluate(const std::string& text) {
    ExpressionEvaluator evaluator;
    evaluator.compile(text);
    char printed[64];
    std::snprintf(printed, sizeof printed, "%f", static_cast<double>(evaluator.evaluate()));
    return printed;
}

TEST(ExpressionEvaluatorTest, EvaluatesAndSurvivesMalformedInput) {
    const std::pair<const char*, const char*> cases[] = {
        {"2 + 3 * 4", "14.000000"},
        {"(2 + 3) * 4", "20.000000"},
        {"length(vector(3, 4, 0))", "5.000000"},
        {"test(1 > 2, 10, 20)", "20.000000"},
        {"test(2 > 1, 10, 20)", "10.000000"},
        {"-2 * 3", "-6.000000"},
        {"pi", "3.145926"},
        {"1e3 / 4", "250.000000"},
        {"1e-1", "0.100000"},
        {"8 - 2 - 1", "5.000000"},
        {"2 or 0", "1.000000"},
        {"0 and 1", "0.000000"},
        {"not 3", "0.000000"},
        {"!0", "1.000000"},
        {"1 <> 2", "1.000000"},
        {"1 != 1", "0.000000"},
        {"2 == 2", "1.000000"},
        {"1 <= 1 && 2 >= 3", "0.000000"},
        {"x(X + Y)", "1.000000"},
        {"dot(X, Y)", "0.000000"},
        {"z(cross(X, Y))", "1.000000"},
        {"x(normal(vector(0, 0, 0.00001)))", "0.000000"},
        {"z(dir(vector(0, 0, 2)))", "1.000000"},
        {"abs(-2.5)", "2.500000"},
        {"y(vector(1, 2, 3)) + z(vector(1, 2, 3))", "5.000000"},
        {"clamp(5, 0, 10)", "5.000000"},
        {"clamp(5, 0, 3)", "3.000000"},
        {"clamp(-1, 0, -2)", "0.000000"},
        {"sin(0) + cos(0)", "1.000000"},
        {"+4", "4.000000"},
        {"1 / 0", "inf"},
        {"1.5.7", "1.500000"},
        {"1e", "1.000000"},
        // Malformed input must stay inside the evaluator's stack.
        {"1 +", "1.000000"},
        {"1; 2", "0.000000"},
        {"()", "0.000000"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(evaluate(text), expected) << text;
    for (const char* text : {"", "*", "vector(1)", ";", "clamp()", "test(,)"})
        EXPECT_NO_THROW(evaluate(text)) << text;
}

TEST(ExpressionEvaluatorTest, UnknownNamesAndCharactersAreErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"foo + 1", "Unknown identifier foo"}, {"2 | 3", "Unknown identifier |"},
        {".5", "Unknown identifier ."},        {"a = 1", "Unknown identifier a"},
        {"1 = 1", "Unknown identifier ="},     {"2 % 3", "Unknown identifier %"},
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(test::error_of([&, &text = text] { evaluate(text); }), message) << text;
}

TEST(ExpressionEvaluatorTest, RandomIsVolatileAndRestartsPerRun) {
    ExpressionEvaluator::reset_random();
    ExpressionEvaluator evaluator;
    evaluator.compile("rnd");
    const float first = evaluator.evaluate();
    EXPECT_NEAR(first, 0.236068f, 1e-6f);
    EXPECT_NE(evaluator.evaluate(), first);
    ExpressionEvaluator::reset_random();
    EXPECT_EQ(evaluator.evaluate(), first);
}

}  // namespace
