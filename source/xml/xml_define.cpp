// xdefine macros: declaration, argument substitution and @name expansion with its guards.
#include "xml/xml_define.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "xml/expression_evaluator.h"

namespace kam {

namespace detail {
// What the expansions of one load may write, all together: bodies that name other defines
// multiply, and a page of content would otherwise ask for gigabytes. Every expanded text is
// charged whole, since the parser reads it again: an expansion that keeps re-opening the text
// behind it would otherwise re-read megabytes for a few bytes of growth each time.
size_t xml_define_budget = 64u << 20;
}  // namespace detail

namespace {

// A body that keeps producing its own name would expand forever. Legitimate content
// re-expands a name only as often as it wrote it, so these limits are far from real use.
constexpr int max_nested_expansions = 1000;

[[noreturn]] void too_large() {
    throw std::runtime_error("Defines expand to more than " +
                             std::to_string(detail::xml_define_budget >> 20) + " MB");
}

bool is_identifier_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string_view trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string_view> split_at_commas(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const size_t comma = text.find(',');
        pieces.push_back(trim(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            return pieces;
        text.remove_prefix(comma + 1);
    }
}

// Throws when the result would be longer than limit: a body naming a parameter many times,
// given a long argument, multiplies it.
void replace_all(std::string& text, const std::string& from, std::string_view to, size_t limit) {
    if (from.empty())
        return;
    size_t count = 0;
    for (size_t found = text.find(from); found != std::string::npos;
         found = text.find(from, found + from.size()))
        ++count;
    if (count == 0)
        return;
    if (to.size() > from.size() &&
        (text.size() > limit || (to.size() - from.size()) > (limit - text.size()) / count))
        too_large();
    std::string result;
    size_t start = 0;
    for (size_t found = text.find(from); found != std::string::npos;
         found = text.find(from, start)) {
        result.append(text, start, found - start).append(to);
        start = found + from.size();
    }
    if (start == 0)
        return;
    result.append(text, start, std::string::npos);
    text = std::move(result);
}

// evaluator may be null: one is built then, which costs more than most expressions.
std::string evaluate(std::shared_ptr<ExpressionEvaluator>& evaluator,
                     const std::string& expression) {
    if (evaluator == nullptr)
        evaluator = std::make_shared<ExpressionEvaluator>();
    evaluator->compile(expression);
    // The largest float prints as 39 digits and six decimals, so 64 bytes always hold it.
    char printed[64];
    std::snprintf(printed, sizeof printed, "%f", static_cast<double>(evaluator->evaluate()));
    return printed;
}

// limit bounds the body once its arguments are in.
bool apply_define(const XMLDefine& define, std::shared_ptr<ExpressionEvaluator>& evaluator,
                  std::string& text, size_t from, size_t& position, size_t& length, size_t limit,
                  size_t* replaced = nullptr) {
    const size_t at = text.find(define.name, from);
    if (at == std::string::npos)
        return false;
    const size_t name_end = at + define.name.size();
    if (name_end < text.size() && is_identifier_char(text[name_end]))
        return false;

    std::string result;
    size_t end = name_end;
    if (define.parameter_names.empty()) {
        result = define.expression ? evaluate(evaluator, define.body) : define.body;
    } else {
        const size_t open = text.find('(', name_end);
        const size_t close = text.find(')', name_end);
        std::vector<std::string_view> arguments;
        // A reference without a following "(...)" has no arguments at all.
        if (open != std::string::npos && close != std::string::npos && open < close) {
            arguments = split_at_commas(std::string_view(text).substr(open + 1, close - open - 1));
            end = close + 1;
        }
        if (arguments.size() != define.parameter_names.size()) {
            throw std::runtime_error("Wrong number of macro parameters to " + define.name);
        }
        result = define.body;
        for (std::int32_t index : define.substitution_order) {
            const auto i = static_cast<size_t>(index);
            replace_all(result, define.parameter_names[i], arguments[i], limit);
        }
        if (define.expression)
            result = evaluate(evaluator, result);
    }
    text.replace(at, end - at, result);
    position = at;
    length = result.size();
    if (replaced != nullptr)
        *replaced = end - at;
    return true;
}

// Records that [position, position + old_length) became new_length bytes.
void note_replacement(XMLDefineList::Regions& regions, size_t position, size_t old_length,
                      size_t new_length) {
    const size_t old_end = position + old_length;
    size_t begin = position, end = position + new_length;
    XMLDefineList::Regions updated;
    for (const auto& [first, last] : regions) {
        if (last < position) {
            updated.emplace_back(first, last);
        } else if (first > old_end) {
            updated.emplace_back(first - old_length + new_length, last - old_length + new_length);
        } else {
            begin = std::min(begin, first);
            if (last > old_end)
                end = std::max(end, last - old_length + new_length);
        }
    }
    updated.emplace_back(begin, end);
    std::sort(updated.begin(), updated.end());
    regions = std::move(updated);
}

}  // namespace

void XMLDefine::declare(std::string_view declared) {
    parameter_names.clear();
    const size_t open = declared.find('(');
    if (open == std::string_view::npos) {
        name = "@" + std::string(trim(declared));
    } else {
        name = "@" + std::string(declared.substr(0, open));
        const size_t close = declared.find(')', open);
        const std::string_view inside =
            declared.substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
        for (std::string_view piece : split_at_commas(inside)) {
            parameter_names.push_back("$" + std::string(piece));
        }
    }
    build_substitution_order();
}

void XMLDefine::build_substitution_order() {
    substitution_order.clear();
    for (size_t i = 0; i < parameter_names.size(); ++i) {
        substitution_order.push_back(static_cast<std::int32_t>(i));
    }
    std::stable_sort(substitution_order.begin(), substitution_order.end(),
                     [this](std::int32_t a, std::int32_t b) {
                         return parameter_names[static_cast<size_t>(a)] >
                                parameter_names[static_cast<size_t>(b)];
                     });
}

bool XMLDefine::apply(std::string& text, size_t& position, size_t& length) const {
    std::shared_ptr<ExpressionEvaluator> evaluator;
    return apply_define(*this, evaluator, text, 0, position, length,
                        text.size() + detail::xml_define_budget);
}

bool XMLDefine::apply(std::string& text) const {
    size_t position = 0, length = 0;
    return apply(text, position, length);
}

bool operator==(const XMLDefine& a, const XMLDefine& b) {
    return a.name == b.name && a.parameter_names == b.parameter_names &&
           a.substitution_order == b.substitution_order && a.body == b.body &&
           a.expression == b.expression;
}

void XMLDefineList::close_scope() {
    if (marks_.empty())
        return;
    const auto mark = static_cast<size_t>(marks_.back());
    marks_.pop_back();
    if (mark < defines_.size())
        defines_.resize(mark);
}

void XMLDefineList::clear() {
    restore({0, 0});
    grown_ = 0;
}

void XMLDefineList::restore(State state) {
    if (state.defines < defines_.size())
        defines_.resize(state.defines);
    if (state.marks < marks_.size())
        marks_.resize(state.marks);
}

const XMLDefine* XMLDefineList::find(std::string_view identifier) const {
    for (auto define = defines_.rbegin(); define != defines_.rend(); ++define) {
        const std::string& name = (*define)->name;
        if (std::string_view(name).substr(1) == identifier)
            return define->get();
    }
    return nullptr;
}

std::string XMLDefineList::expand(std::string_view original, std::string* applied,
                                  Regions* changed) const {
    if (changed != nullptr)
        changed->clear();
    const size_t budget = detail::xml_define_budget;
    const size_t limit = original.size() + (budget - std::min(grown_, budget));
    std::string text(original);
    bool expanded = false;
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && is_identifier_char(text[end]))
            ++end;
        const XMLDefine* define = find(std::string_view(text).substr(at + 1, end - at - 1));
        if (define == nullptr)
            continue;
        if (applied != nullptr)
            *applied = define->name;
        expanded = true;

        // Nothing before an occurrence can hold the name, so each search starts just before
        // it; occurrences inside what was just inserted count as the body naming itself.
        size_t from = 0, inserted_end = 0, position = 0, length = 0, replaced = 0;
        int nested = 0;
        while (apply_define(*define, evaluator_, text, from, position, length, limit, &replaced)) {
            if (changed != nullptr)
                note_replacement(*changed, position, replaced, length);
            nested = position < inserted_end ? nested + 1 : 0;
            if (nested > max_nested_expansions)
                throw std::runtime_error("Define " + define->name + " expands without end");
            if (text.size() > limit)
                too_large();
            inserted_end = position + length;
            from = position + 1 >= define->name.size() ? position + 1 - define->name.size() : 0;
        }
    }
    if (expanded) {
        grown_ += text.size();
        if (grown_ > budget)
            too_large();
    }
    return text;
}

}  // namespace kam
