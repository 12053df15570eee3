// The evaluator of expression defines: infix over three-component vectors, run as postfix.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kam {

struct ExpressionValue {
    float x = 0;
    float y = 0;
    float z = 0;
};

class ExpressionEvaluator {
public:
    // Fills the operator table and the constants pi, X, Y and Z.
    ExpressionEvaluator();

    // Compiles the text into the program, replacing any earlier one; folds it when nothing in
    // it can change between runs. Throws std::runtime_error "Unknown identifier " + name.
    void compile(std::string_view text);
    // Runs the program; the x of the value left on top, or of the folded result.
    float evaluate();
    // As evaluate, the whole vector; (0, 0, 0) when nothing is left.
    ExpressionValue evaluate_value();

    // The process-wide generator behind "rnd": the next value in [0, 1).
    static float next_random();
    // Starts the generator's sequence again (a new run starts with state 0).
    static void reset_random(std::uint32_t state = 0);

private:
    using Function = void (*)(ExpressionEvaluator&);
    struct Operator {
        Function function;
        int precedence;
        bool is_volatile;
    };
    struct Variable {
        ExpressionValue value;
        bool constant;
    };
    enum class Kind : std::uint8_t { call, variable, number };
    struct Instruction {
        Kind kind;
        int index;
        float number;
    };

    void add_operator(const char* name, Function function, int precedence,
                      bool is_volatile = false);
    void run();

    // Missing operands read as (0, 0, 0), so a malformed expression never leaves the stack.
    ExpressionValue pop();
    void push(ExpressionValue value) { stack_.push_back(value); }
    void push(float value) { stack_.push_back({value, value, value}); }
    friend struct ExpressionOperators;

    std::vector<Operator> operators_;
    std::unordered_map<std::string, int> operator_index_;
    std::vector<Variable> variables_;
    std::unordered_map<std::string, int> variable_index_;
    std::vector<Instruction> program_;
    std::vector<ExpressionValue> stack_;
    ExpressionValue folded_;
};

}  // namespace kam
