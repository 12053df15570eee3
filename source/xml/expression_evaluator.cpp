// Expression defines: tokenizer, operator-precedence compiler and the value-stack machine.
#include "xml/expression_evaluator.h"

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "utility/job_queue.h"

namespace kam {

namespace {

// One sequence for the run, drawn in the order of the files (see next_random).
std::atomic<std::uint32_t> random_state{0};

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

struct FunctionStackItem {
    int index;
    int precedence;
    int depth;
};

float truth(bool value) {
    return value ? 1.0f : 0.0f;
}

}  // namespace

// The operator bodies; each pops its operands (first argument deepest) and pushes its result.
struct ExpressionOperators {
    using E = ExpressionEvaluator;
    static void sequence(E& e) { e.stack_.clear(); }
    static void comma(E&) {}
    static void logical_or(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x != 0 || b.x != 0));
    }
    static void logical_and(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x != 0 && b.x != 0));
    }
    static void equal(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x == b.x));
    }
    static void not_equal(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x != b.x));
    }
    static void less(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x < b.x));
    }
    static void less_equal(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x <= b.x));
    }
    static void greater(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x > b.x));
    }
    static void greater_equal(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(truth(a.x >= b.x));
    }
    static void add(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push({a.x + b.x, a.y + b.y, a.z + b.z});
    }
    static void subtract(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push({a.x - b.x, a.y - b.y, a.z - b.z});
    }
    static void multiply(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push({a.x * b.x, a.y * b.y, a.z * b.z});
    }
    static void divide(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push({a.x / b.x, a.y / b.y, a.z / b.z});
    }
    static void negate(E& e) {
        const auto a = e.pop();
        e.push({0 - a.x, 0 - a.y, 0 - a.z});
    }
    static void logical_not(E& e) { e.push(truth(e.pop().x == 0)); }
    static void sine(E& e) { e.push(std::sin(e.pop().x)); }
    static void cosine(E& e) { e.push(std::cos(e.pop().x)); }
    static void vector(E& e) {
        const auto c = e.pop(), b = e.pop(), a = e.pop();
        e.push({a.x, b.x, c.x});
    }
    static float length_of(const ExpressionValue& a) {
        return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    }
    static void normal(E& e) {
        const auto a = e.pop();
        const float length = length_of(a);
        if (length < 0.0001f) {
            e.push(0.0f);
        } else {
            e.push({a.x / length, a.y / length, a.z / length});
        }
    }
    static void length(E& e) { e.push(length_of(e.pop())); }
    static void random(E& e) { e.push(ExpressionEvaluator::next_random()); }
    static void test(E& e) {
        const auto b = e.pop(), a = e.pop(), c = e.pop();
        e.push(c.x != 0 ? a : b);
    }
    static void absolute(E& e) { e.push(std::fabs(e.pop().x)); }
    static void x(E& e) { e.push(e.pop().x); }
    static void y(E& e) { e.push(e.pop().y); }
    static void z(E& e) { e.push(e.pop().z); }
    static void dot(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push(a.x * b.x + a.y * b.y + a.z * b.z);
    }
    static void cross(E& e) {
        const auto b = e.pop(), a = e.pop();
        e.push({a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x});
    }
    static void clamp(E& e) {
        const auto c = e.pop(), b = e.pop(), a = e.pop();
        if (c.x > a.x) {
            e.push(a.x);
        } else if (b.x > c.x) {
            e.push(b.x);
        } else {
            e.push(c.x);
        }
    }
};

ExpressionEvaluator::ExpressionEvaluator() {
    using O = ExpressionOperators;
    add_operator(";", O::sequence, 0);
    add_operator(",", O::comma, 1);
    add_operator("||", O::logical_or, 4);
    add_operator("or", O::logical_or, 4);
    add_operator("&&", O::logical_and, 5);
    add_operator("and", O::logical_and, 5);
    add_operator("==", O::equal, 9);
    add_operator("!=", O::not_equal, 9);
    add_operator("<>", O::not_equal, 9);
    add_operator("<", O::less, 10);
    add_operator("<=", O::less_equal, 10);
    add_operator(">", O::greater, 10);
    add_operator(">=", O::greater_equal, 10);
    add_operator("+", O::add, 12);
    add_operator("-", O::subtract, 12);
    add_operator("*", O::multiply, 13);
    add_operator("/", O::divide, 13);
    add_operator("u-", O::negate, 16);
    add_operator("u+", O::comma, 16);
    add_operator("!", O::logical_not, 16);
    add_operator("not", O::logical_not, 16);
    add_operator("sin", O::sine, 17);
    add_operator("cos", O::cosine, 17);
    add_operator("vector", O::vector, 17);
    add_operator("normal", O::normal, 17);
    add_operator("dir", O::normal, 17);
    add_operator("length", O::length, 17);
    add_operator("len", O::length, 17);
    add_operator("rnd", O::random, 17, true);
    add_operator("test", O::test, 17);
    add_operator("abs", O::absolute, 17);
    add_operator("x", O::x, 17);
    add_operator("y", O::y, 17);
    add_operator("z", O::z, 17);
    add_operator("dot", O::dot, 17);
    add_operator("cross", O::cross, 17);
    add_operator("clamp", O::clamp, 17);

    // Not 3.1415927: the value content has always been computed with.
    const float pi = std::bit_cast<float>(0x404956DCu);
    const std::pair<const char*, ExpressionValue> constants[] = {
        {"pi", {pi, pi, pi}}, {"X", {1, 0, 0}}, {"Y", {0, 1, 0}}, {"Z", {0, 0, 1}}};
    for (const auto& [name, value] : constants) {
        variable_index_[name] = static_cast<int>(variables_.size());
        variables_.push_back({value, true});
    }
}

void ExpressionEvaluator::add_operator(const char* name, Function function, int precedence,
                                       bool is_volatile) {
    operator_index_[name] = static_cast<int>(operators_.size());
    operators_.push_back({function, precedence, is_volatile});
}

ExpressionValue ExpressionEvaluator::pop() {
    if (stack_.empty())
        return {};
    const ExpressionValue value = stack_.back();
    stack_.pop_back();
    return value;
}

void ExpressionEvaluator::compile(std::string_view text) {
    program_.clear();
    std::vector<FunctionStackItem> operator_stack;
    int depth = 0;
    bool previous_was_operand = false;
    bool foldable = true;

    auto add_operator_token = [&](int index) {
        const int precedence = operators_[static_cast<size_t>(index)].precedence;
        while (!operator_stack.empty()) {
            const FunctionStackItem& top = operator_stack.back();
            if (top.depth < depth || (top.depth == depth && top.precedence < precedence))
                break;
            program_.push_back({Kind::call, top.index, 0});
            operator_stack.pop_back();
        }
        operator_stack.push_back({index, precedence, depth});
        if (operators_[static_cast<size_t>(index)].is_volatile)
            foldable = false;
    };
    auto lookup_operator = [&](const std::string& name) {
        const auto found = operator_index_.find(name);
        if (found == operator_index_.end())
            throw std::runtime_error("Unknown identifier " + name);
        return found->second;
    };

    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ') {
            ++i;
        } else if (is_digit(c)) {
            const size_t start = i;
            bool seen_exponent = false;
            while (i < text.size()) {
                const char d = text[i];
                if (is_digit(d) || d == '.') {
                    ++i;
                } else if ((d == 'e' || d == 'E') && !seen_exponent) {
                    seen_exponent = true;
                    ++i;
                    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
                        ++i;
                } else {
                    break;
                }
            }
            double number = 0;
            std::from_chars(text.data() + start, text.data() + i, number);
            program_.push_back({Kind::number, 0, static_cast<float>(number)});
            previous_was_operand = true;
        } else if (is_letter(c)) {
            const size_t start = i;
            while (i < text.size() && (is_letter(text[i]) || is_digit(text[i])))
                ++i;
            const std::string name(text.substr(start, i - start));
            const auto variable = variable_index_.find(name);
            if (variable != variable_index_.end()) {
                program_.push_back({Kind::variable, variable->second, 0});
                if (!variables_[static_cast<size_t>(variable->second)].constant)
                    foldable = false;
            } else {
                add_operator_token(lookup_operator(name));
            }
            previous_was_operand = true;
        } else if (c == '(' || c == ')') {
            depth += c == '(' ? 1 : -1;
            previous_was_operand = c == ')';
            ++i;
        } else if ((c == '+' || c == '-') && !previous_was_operand) {
            add_operator_token(lookup_operator(c == '+' ? "u+" : "u-"));
            ++i;
        } else {
            std::string name(1, c);
            if (i + 1 < text.size()) {
                const std::string pair = name + text[i + 1];
                if (pair == "||" || pair == "&&" || pair == "==" || pair == "!=" || pair == "<>" ||
                    pair == "<=" || pair == ">=") {
                    name = pair;
                }
            }
            add_operator_token(lookup_operator(name));
            i += name.size();
            previous_was_operand = false;
        }
    }
    while (!operator_stack.empty()) {
        program_.push_back({Kind::call, operator_stack.back().index, 0});
        operator_stack.pop_back();
    }
    if (foldable) {
        run();
        folded_ = pop();
        program_.clear();
    }
}

void ExpressionEvaluator::run() {
    stack_.clear();
    for (const Instruction& instruction : program_) {
        switch (instruction.kind) {
            case Kind::call:
                operators_[static_cast<size_t>(instruction.index)].function(*this);
                break;
            case Kind::variable:
                push(variables_[static_cast<size_t>(instruction.index)].value);
                break;
            case Kind::number:
                push(instruction.number);
                break;
        }
    }
}

ExpressionValue ExpressionEvaluator::evaluate_value() {
    if (program_.empty())
        return folded_;
    run();
    return pop();
}

float ExpressionEvaluator::evaluate() {
    return evaluate_value().x;
}

float ExpressionEvaluator::next_random() {
    // One sequence for the whole run, drawn in the order of the files: a job drawing out of turn
    // is run again in its turn.
    if (JobQueue::redo_in_order())
        return 0;
    std::uint32_t state = random_state.load();
    std::uint32_t next = 0;
    do {
        next = state * 1664525u + 1013904223u;
    } while (!random_state.compare_exchange_weak(state, next));
    return static_cast<float>(next) * 2.3283064e-10f;
}

void ExpressionEvaluator::reset_random(std::uint32_t state) {
    random_state.store(state);
}

}  // namespace kam
