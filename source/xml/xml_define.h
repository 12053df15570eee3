// Text macros of XML content: xdefine declarations, their scopes and @name expansion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kam {

class ExpressionEvaluator;

struct XMLDefine {
    std::string name;                          // "@" + declared name
    std::vector<std::string> parameter_names;  // "$" + declared parameter name, in order
    // Indexes into parameter_names, longest-first by descending byte order, so that "$ab" is
    // replaced before "$a".
    std::vector<std::int32_t> substitution_order;
    std::string body;
    bool expression = false;

    // Takes a declared name, "w" or "m(a, b)", and fills name, parameters and order.
    void declare(std::string_view declared);
    void build_substitution_order();

    // Replaces the first occurrence of the name in the text. False when there is none or it
    // runs on into a longer identifier. Throws std::runtime_error on a wrong argument count
    // and on an expression that does not compile. position receives where the occurrence
    // stood and length the length of what replaced it.
    bool apply(std::string& text, size_t& position, size_t& length) const;
    bool apply(std::string& text) const;
};

bool operator==(const XMLDefine& a, const XMLDefine& b);

namespace detail {
// What the define expansions of one load may write in all, 64 MB; fuzzing lowers it so that
// inputs using it up stay quick under the sanitizers.
extern size_t xml_define_budget;
}  // namespace detail

class XMLDefineList {
public:
    void open_scope() { marks_.push_back(static_cast<std::int32_t>(defines_.size())); }
    // Deletes the defines made since the matching open_scope.
    void close_scope();
    void add(std::unique_ptr<XMLDefine> define) { defines_.push_back(std::move(define)); }
    // The last made define named "@" + identifier, or null.
    const XMLDefine* find(std::string_view identifier) const;

    // Stretches [begin, end) of an expanded text that replacements wrote; the rest is the
    // original text unchanged.
    using Regions = std::vector<std::pair<size_t, size_t>>;

    // Expands every @name reference that names a visible define; applied receives the name of
    // the last define used and changed the regions replaced. Throws std::runtime_error for a
    // wrong argument count, a bad expression, an expansion that never ends, and once the texts
    // expanded since the list was cleared come to more than 64 MB.
    std::string expand(std::string_view text, std::string* applied = nullptr,
                       Regions* changed = nullptr) const;

    // The list's extent, to put back after a parse that may have stopped half-way.
    struct State {
        size_t defines;
        size_t marks;
    };
    State state() const { return {defines_.size(), marks_.size()}; }
    void restore(State state);
    // Empty again, with the whole growth allowance.
    void clear();
    size_t size() const { return defines_.size(); }

private:
    std::vector<std::unique_ptr<XMLDefine>> defines_;
    std::vector<std::int32_t> marks_;
    // Bytes of expanded text so far; a load's includes share it with the includer.
    mutable size_t grown_ = 0;
    // Built at the first expression and kept, as building one costs more than most expressions;
    // a list is used by one thread at a time.
    mutable std::shared_ptr<ExpressionEvaluator> evaluator_;
};

}  // namespace kam
