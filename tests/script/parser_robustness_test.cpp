// Whatever a script author types, a compile ends with a result and its messages.
#include <gtest/gtest.h>

#include <random>

#include "script/script_error.h"
#include "script/script_test_support.h"

namespace {

// Parses, lists and, when accepted, generates; a refused source must say why.
void check_compile(const std::string& source) {
    kam::script::StringScanner scanner(source, "f.ksf");
    kam::script::Parser parser(scanner);
    const bool accepted = parser.parse();
    std::ostringstream listing;
    parser.print(listing);
    if (!accepted) {
        ASSERT_GT(parser.error_count(), 0) << source;
        ASSERT_FALSE(parser.error_text().empty()) << source;
        return;
    }
    ASSERT_EQ(parser.error_text(), "") << source;
    try {
        test::emit_all(parser);
    } catch (const kam::script::DSBaseError&) {
        // Unknown names and limits are the generator's to report.
    }
}

std::vector<std::string> valid_samples() {
    std::vector<std::string> samples;
    for (const char* name : {"statements", "expressions", "loops", "two_variable_for"}) {
        samples.push_back(test::read_data(std::string(name) + ".ksf"));
    }
    return samples;
}

TEST(ParserRobustnessTest, EveryPrefixOfAValidSourceCompilesOrSaysWhy) {
    int refused = 0;
    for (const std::string& sample : valid_samples()) {
        for (size_t length = 0; length <= sample.size(); ++length) {
            const std::string prefix = sample.substr(0, length);
            check_compile(prefix);
            refused += test::compile_script(prefix).accepted ? 0 : 1;
        }
    }
    EXPECT_GT(refused, 500);
}

TEST(ParserRobustnessTest, RandomTokenSequences) {
    const char* vocabulary[] = {
        "x", "y", "f", "C", "import", "object", "class", "if", "else", "while", "for", "in", "return", "this",
        "void", "true", "false", "number", "string", "boolean", "and", "or", "not", "(", ")", "{", "}", ",",
        ";", ".", ":=", "=", "<>", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "1", "2.5", "\"s\"", "'t'",
        "\"\"\"r\"\"\"", "[", "\"open", "/*", "*/", "//", "\\", ":", "\n", "\"\\q\"", "#"};
    std::mt19937 random(12345);
    std::uniform_int_distribution<size_t> pick(0, std::size(vocabulary) - 1);
    std::uniform_int_distribution<int> length(1, 80);
    for (int round = 0; round < 3000; ++round) {
        std::string source;
        for (int i = length(random); i > 0; --i) source += std::string(vocabulary[pick(random)]) + " ";
        check_compile(source);
    }
}

TEST(ParserRobustnessTest, MutationsOfValidSources) {
    const auto samples = valid_samples();
    const std::string alphabet = "(){};.,:=<>+-*/%\"' \n\tabxyz019_[]\\\r\f";
    std::mt19937 random(6789);
    for (int round = 0; round < 3000; ++round) {
        std::string source = samples[static_cast<size_t>(round) % samples.size()];
        for (int edits = 1 + static_cast<int>(random() % 4); edits > 0 && !source.empty(); --edits) {
            const size_t at = random() % source.size();
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 4) {
                case 0: source.erase(at, 1 + random() % 8); break;
                case 1: source.insert(at, 1, c); break;
                case 2: source[at] = c; break;
                default: source.insert(at, source.substr(random() % source.size(), 1 + random() % 20)); break;
            }
        }
        check_compile(source);
    }
}

}  // namespace
