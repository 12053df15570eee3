// The parser's token source, messages and the semantic actions of the grammar.
#include "script/parser.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ostream>

#include "script/im_instruction.h"
#include "script/script_error.h"

namespace kam::script {

Parser::Parser(Scanner& scanner, bool emit_early) : scanner_(scanner), emit_early_(emit_early) {
    scopes_.push_back(std::make_unique<Scope>(ScopeKind::global, nullptr));
    current_ = scopes_.front().get();
}

Parser::~Parser() {
    for (ImInstruction* instruction : instructions_)
        instruction->~ImInstruction();
}

void Parser::print(std::ostream& out) const {
    for (const ImInstruction* instruction : instructions_)
        instruction->print(out);
}

// ---- Code generation ----

void Parser::fail_generation(std::int32_t index, std::string message) {
    failure_index_ = index;
    failure_ = std::move(message);
}

void Parser::emit_remaining() {
    const std::int32_t count = instruction_count();
    for (; emitted_ < count && failure_index_ < 0; ++emitted_) {
        try {
            instruction(emitted_).emit(instruction_code_, *this, emitted_);
        } catch (const GeneratorError& error) {
            fail_generation(emitted_, scanner_.name() + ": " + error.what());
        } catch (const ParserError& error) {
            fail_generation(emitted_, scanner_.name() + "(" +
                                          std::to_string(instruction_line(emitted_)) +
                                          "): " + error.what());
        }
    }
    for (; next_function_offset_ < functions_.size() && failure_index_ < 0;
         ++next_function_offset_) {
        FunctionRecord& function = functions_[next_function_offset_];
        if (function.first_instruction >= emitted_)
            break;
        if (has_instruction(function.first_instruction))
            function.code_offset = instruction(function.first_instruction).code_offset();
    }
}

void Parser::add_late_name(std::uint32_t position, std::int32_t index, const std::string& name,
                           bool reference) {
    late_names_.push_back(LateName{position, index, instruction_line(index), reference, name});
}

// Objects are all declared before the first function, so a late name is a function or a class,
// pushed by value; the reference form is kept for what a failed parse may leave.
bool Parser::resolve_late_names() {
    for (const LateName& late : late_names_) {
        if (failure_index_ >= 0 && late.index > failure_index_)
            break;
        const Scope& global = global_scope();
        const std::int32_t slot = global.find(late.name);
        if (slot < 0) {
            fail_generation(late.index, scanner_.name() + "(" + std::to_string(late.line) +
                                            "): Id not found \"" + late.name + "\"");
            break;
        }
        const std::int32_t kind = global.entries()[static_cast<size_t>(slot)].kind;
        const bool object = kind == entry::object || kind == 2;
        const Opcode opcode =
            late.reference && object ? Opcode::push_global_reference : Opcode::push_global_value;
        if (slot > 65535) {
            fail_generation(late.index, scanner_.name() + ": " + opcode_info(opcode).limit_message);
            break;
        }
        instruction_code_.patch_count(late.position, opcode, static_cast<std::uint32_t>(slot));
    }
    late_names_.clear();
    return failure_index_ < 0;
}

// Nothing waits on the instructions of a finished top-level function or class: branches stay
// inside a function and names are resolved or kept as late names. The last text may be the
// lookahead token's, so it stays. After an error the recovery may leave anything open, and the
// code is not used: everything is kept.
void Parser::emit_finished_unit() {
    if (!emit_early_ || error_count_ > 0 || current_ != scopes_.front().get())
        return;
    emit_remaining();
    // The others' storage goes with the arena.
    for (ImInstruction* instruction : instructions_) {
        if (instruction->owns_memory())
            instruction->~ImInstruction();
    }
    base_ += static_cast<std::int32_t>(instructions_.size());
    emitted_ = base_;
    instructions_.clear();
    lines_.clear();
    arena_.release();
    jump_nodes_.clear();
    jump_lists_.clear();
    texts_.keep_last_only();
    // Only the freed instructions used the unit's function and block scopes; the numbers of the
    // others stay as they are.
    for (size_t i = first_unit_scope_; i < scopes_.size(); ++i) {
        if (scopes_[i]->is_local())
            spare_scopes_.push_back(std::move(scopes_[i]));
    }
    first_unit_scope_ = scopes_.size();
}

// ---- Token source and messages ----

// The failed token's place is taken by a token no rule accepts, so the grammar's recovery runs
// there.
std::int32_t Parser::token_failed(const ScannerError& error, SemanticValue& value) {
    report(last_line_, error.what());
    SemanticValue result = no_value();
    result.line = last_line_;
    value = result;
    return token::scanner_failure;
}

void Parser::add_message(const std::string& message) {
    if (message == last_message_)
        return;
    last_message_ = message;
    append_error(message);
}

void Parser::append_error(const std::string& message) {
    ++error_count_;
    if (!error_text_.empty())
        error_text_ += '\n';
    error_text_ += message;
}

void Parser::report_driver(const char* text) {
    add_message(scanner_.name() + ":" + text);
}

void Parser::report_stack_overflow() {
    report_driver("parser stack overflow");
}

void Parser::report(std::int32_t line, const std::string& text) {
    add_message(scanner_.name() + "(" + std::to_string(line) + "):" + text);
}

void Parser::report_statement_error(std::int32_t line) {
    const std::string text =
        last_text_ != nullptr ? *last_text_ : std::string(token_spelling(last_kind_));
    report(line, "Non valid statement (token:" + text + ")");
}

// ---- Instructions and jump lists ----

template <typename Instruction, typename... Arguments>
std::int32_t Parser::add(Arguments&&... arguments) {
    void* memory = arena_.allocate(sizeof(Instruction), alignof(Instruction));
    instructions_.push_back(new (memory) Instruction(std::forward<Arguments>(arguments)...));
    lines_.push_back(current_line_);
    return instruction_count() - 1;
}

std::int32_t Parser::add_command(std::int32_t command) {
    return add<ImCommand>(command);
}

std::int32_t Parser::add_jump(std::int32_t condition) {
    const auto node = static_cast<std::int32_t>(jump_nodes_.size());
    jump_nodes_.push_back(JumpNode{add<ImGotoCond>(condition, -1), -1});
    jump_lists_.push_back(JumpList{node, node});
    return static_cast<std::int32_t>(jump_lists_.size()) - 1;
}

void Parser::add_branch_to(std::int32_t target) {
    add<ImGotoCond>(branch::always, target);
}

void Parser::add_value(const std::string& name) {
    add<ImName>(name, current_, ImName::Use::value);
}

void Parser::add_reference(const std::string& name) {
    add<ImName>(name, current_, ImName::Use::reference);
}

std::int32_t Parser::merge(std::int32_t list, std::int32_t other) {
    if (list < 0)
        return other;
    if (other < 0 || other == list)
        return list;
    JumpList& into = jump_lists_[static_cast<size_t>(list)];
    JumpList& from = jump_lists_[static_cast<size_t>(other)];
    if (from.head < 0)
        return list;
    if (into.head < 0) {
        into = from;
    } else {
        jump_nodes_[static_cast<size_t>(into.tail)].next = from.head;
        into.tail = from.tail;
    }
    from = JumpList{-1, -1};
    return list;
}

void Parser::resolve_jumps(std::int32_t list, std::int32_t target) {
    if (list < 0)
        return;
    for (std::int32_t node = jump_lists_[static_cast<size_t>(list)].head; node >= 0;
         node = jump_nodes_[static_cast<size_t>(node)].next) {
        const std::int32_t index = jump_nodes_[static_cast<size_t>(node)].instruction;
        instruction(index).as_goto_cond()->set_target(target);
    }
}

std::int32_t Parser::open_scope(ScopeKind kind) {
    if (spare_scopes_.empty()) {
        scopes_.push_back(std::make_unique<Scope>(kind, current_));
    } else {
        scopes_.push_back(std::move(spare_scopes_.back()));
        spare_scopes_.pop_back();
        scopes_.back()->reuse(kind, current_);
    }
    current_ = scopes_.back().get();
    return static_cast<std::int32_t>(scopes_.size()) - 1;
}

// ---- Declarations ----

void Parser::add_import(const std::string* name, std::int32_t line) {
    set_line(line);
    const size_t dot = name->rfind('.');
    const std::string last = dot == std::string::npos ? *name : name->substr(dot + 1);
    // The import list pairs with the import entries, so a refused name stays out of both.
    if (!scopes_.front()->declare(entry::import, last)) {
        report(line, "Identifier already imported");
        return;
    }
    imports_.push_back(*name);
}

const std::string* Parser::join_dotted(const std::string* head, const std::string* tail) {
    return keep(*head + "." + *tail);
}

void Parser::begin_function(const std::string* name, std::int32_t line) {
    set_line(line);
    functions_.push_back(FunctionRecord{instruction_count(), *name, {}});
    if (!current_->declare(entry::function, *name))
        report(line, "Identifier " + *name + " already declared");
    open_scope(ScopeKind::function);
    add<ImResizeParameters>(&functions_.back());
}

// Parameters are declared as they are read, so they keep their source order.
void Parser::declare_parameter(const std::string* name, std::int32_t line) {
    set_line(line);
    if (!current_->declare(entry::object, *name)) {
        report(line, "Can't name two parameters the same");
        return;
    }
    if (!functions_.empty())
        functions_.back().parameters.push_back(*name);
}

void Parser::end_parameters() {
    add<ImResizeLocal>(current_);
}

void Parser::end_function(const SemanticValue& body) {
    add_command(command::push_void);
    resolve_jumps(body.first, instruction_count());
    add_command(command::return_);
    // Closes whatever a recovery left open inside the function too.
    for (Scope* scope = current_; scope != nullptr; scope = scope->parent()) {
        if (scope->kind() == ScopeKind::function) {
            current_ = scope->parent();
            break;
        }
    }
    if (current_->kind() == ScopeKind::global)
        emit_finished_unit();
}

std::int32_t Parser::begin_class(const std::string* name, std::int32_t line) {
    set_line(line);
    if (!scopes_.front()->declare(entry::class_entry, *name)) {
        report(line, "Identifier " + *name + " already declared (class)");
    }
    const std::int32_t first = instruction_count();
    const std::int32_t scope = open_scope(ScopeKind::class_body);
    classes_.push_back(ClassRecord{first, *name, current_});
    in_class_ = true;
    return scope;
}

void Parser::end_class(std::int32_t scope) {
    in_class_ = false;
    current_ = scopes_[static_cast<size_t>(scope)]->parent();
    emit_finished_unit();
}

std::int32_t Parser::open_block() {
    const std::int32_t scope = open_scope(ScopeKind::block);
    add<ImResizeLocal>(current_);
    return scope;
}

void Parser::close_block(std::int32_t scope) {
    current_ = scopes_[static_cast<size_t>(scope)]->parent();
    add<ImResizeLocal>(current_);
}

void Parser::declare_object(const std::string* name, std::int32_t line) {
    set_line(line);
    if (!current_->declare(entry::object, *name))
        report(line, "Can't name two objects the same \"" + *name + "\"");
}

void Parser::begin_initializer(const std::string* name, std::int32_t line) {
    declare_object(name, line);
    if (current_->kind() == ScopeKind::global)
        report(line, "Global objects cannot have initializers.");
    if (current_->kind() == ScopeKind::class_body)
        report(line, "Class objects cannot have initializers.");
    add_reference(*name);
}

void Parser::end_initializer(const SemanticValue& value) {
    materialize(value);
    add_command(command::assign);
}

// ---- Statements ----

void Parser::push_target_value(const std::string* name, std::int32_t line) {
    set_line(line);
    add_value(*name);
}

void Parser::push_target_reference(const std::string* name, std::int32_t line) {
    set_line(line);
    add_reference(*name);
}

void Parser::end_assignment(const SemanticValue& value) {
    materialize(value);
    add_command(command::assign);
}

void Parser::end_call_statement() {
    add_command(command::pop);
}

std::int32_t Parser::mark_keyword(std::int32_t line) {
    set_line(line);
    return instruction_count();
}

SemanticValue Parser::enter_branch(const SemanticValue& test) {
    resolve_jumps(test.first, instruction_count());
    SemanticValue branch = no_value();
    branch.second = test.second;
    return branch;
}

SemanticValue Parser::end_while(std::int32_t head, const SemanticValue& branch,
                                const SemanticValue& body) {
    add_branch_to(head);
    resolve_jumps(branch.second, instruction_count());
    SemanticValue result = no_value();
    result.first = body.first;
    return result;
}

std::int32_t Parser::enter_else(const SemanticValue& branch) {
    const std::int32_t over_else = add_jump(branch::always);
    resolve_jumps(branch.second, instruction_count());
    return over_else;
}

SemanticValue Parser::end_if(const SemanticValue& branch, const SemanticValue& body) {
    resolve_jumps(branch.second, instruction_count());
    SemanticValue result = no_value();
    result.first = body.first;
    return result;
}

SemanticValue Parser::end_if_else(std::int32_t over_else, const SemanticValue& then_body,
                                  const SemanticValue& else_part) {
    resolve_jumps(over_else, instruction_count());
    SemanticValue result = no_value();
    result.first = merge(then_body.first, else_part.first);
    return result;
}

const std::string* Parser::keep(const std::string& text) {
    return texts_.add(text);
}

// Assignment reuses the slot's storage; a general assign would go through the slower replace().
const std::string* Parser::TextStore::add(const std::string& text) {
    next() = text;
    return keep_next();
}

void Parser::TextStore::start_chunk() {
    if (spare_.empty()) {
        chunks_.push_back(std::make_unique<std::string[]>(chunk_size));
    } else {
        chunks_.push_back(std::move(spare_.back()));
        spare_.pop_back();
    }
    current_ = chunks_.back().get();
    used_ = 0;
}

// The last chunk holds the last text and stays where it is.
void Parser::TextStore::keep_last_only() {
    if (chunks_.size() < 2)
        return;
    for (size_t i = 0; i + 1 < chunks_.size(); ++i)
        spare_.push_back(std::move(chunks_[i]));
    chunks_.erase(chunks_.begin(), chunks_.end() - 1);
}

namespace {

const std::string iterator_member = "iterator";
const std::string next_member = "next";
const std::string key_member = "key";
const std::string value_member = "value";

}  // namespace

// The loop's own block scope holds the variables and the hidden list and iterator, named after
// the first variable; "::" cannot be written in a source, so they never clash with user names.
std::int32_t Parser::begin_for(const std::string* variable, const std::string* second,
                               std::int32_t line) {
    set_line(line);
    const std::int32_t scope = open_scope(ScopeKind::block);
    std::vector<const std::string*> names = {variable};
    if (second != nullptr) {
        names.push_back(second);
        names.push_back(keep(*variable + "::x"));
    }
    const std::string* list = keep(*variable + "::list");
    names.push_back(list);
    names.push_back(keep(*variable + "::iter"));
    for (const std::string* name : names) {
        if (!current_->declare(entry::object, *name)) {
            report(line, "Variable name in for must be unique: \"" + *name + "\"");
        }
    }
    add<ImResizeLocal>(current_);
    add_reference(*list);
    return scope;
}

SemanticValue Parser::for_loop_head(std::int32_t scope, const std::string* variable,
                                    const std::string* second, const SemanticValue& list) {
    const std::string& loop_variable = second != nullptr ? *keep(*variable + "::x") : *variable;
    const std::string& iterator = *keep(*variable + "::iter");
    materialize(list);
    add_command(command::assign);
    add_reference(iterator);
    add_value(*keep(*variable + "::list"));
    add<ImMember>(iterator_member);
    add<ImCall>(0);
    add_command(command::assign);

    SemanticValue head = no_value();
    head.kind = scope;
    head.first = instruction_count();
    add_reference(loop_variable);
    add_value(iterator);
    add<ImMember>(next_member);
    add<ImCall>(0);
    add_command(command::assign);
    add_value(loop_variable);
    add_command(command::push_void);
    add<ImBinOp>(value_kind::unknown, value_kind::void_value, binary_op::eq);
    head.second = add_jump(branch::if_true);
    if (second != nullptr) {
        for (const auto& [name, part] :
             {std::pair{variable, &key_member}, std::pair{second, &value_member}}) {
            add_reference(*name);
            add_value(loop_variable);
            add<ImMember>(*part);
            add_command(command::deref);
            add_command(command::assign);
        }
    }
    return head;
}

SemanticValue Parser::end_for(const SemanticValue& head, const SemanticValue& body) {
    add_branch_to(head.first);
    resolve_jumps(head.second, instruction_count());
    current_ = scopes_[static_cast<size_t>(head.kind)]->parent();
    SemanticValue result = no_value();
    result.first = body.first;
    return result;
}

// Every return goes through the function's one final return instruction.
SemanticValue Parser::return_statement(std::int32_t line, const SemanticValue* value) {
    set_line(line);
    if (value == nullptr) {
        add_command(command::push_void);
    } else {
        materialize(*value);
    }
    SemanticValue result = no_value();
    result.first = add_jump(branch::always);
    return result;
}

// ---- Conditions ----

SemanticValue Parser::to_condition(const SemanticValue& value) {
    if (value.kind == value_kind::condition)
        return value;
    SemanticValue result = empty_condition();
    result.second = add_jump(branch::if_false);
    result.first = add_jump(branch::always);
    return result;
}

SemanticValue Parser::or_left(const SemanticValue& left) {
    const SemanticValue condition = to_condition(left);
    resolve_jumps(condition.second, instruction_count());
    return condition;
}

SemanticValue Parser::or_right(const SemanticValue& left, const SemanticValue& right) {
    const SemanticValue condition = to_condition(right);
    SemanticValue result = empty_condition();
    result.first = merge(left.first, condition.first);
    result.second = condition.second;
    return result;
}

SemanticValue Parser::and_left(const SemanticValue& left) {
    const SemanticValue condition = to_condition(left);
    resolve_jumps(condition.first, instruction_count());
    return condition;
}

SemanticValue Parser::and_right(const SemanticValue& left, const SemanticValue& right) {
    const SemanticValue condition = to_condition(right);
    SemanticValue result = empty_condition();
    result.first = condition.first;
    result.second = merge(left.second, condition.second);
    return result;
}

SemanticValue Parser::negate_condition(const SemanticValue& value) {
    SemanticValue result = empty_condition();
    if (value.kind == value_kind::condition) {
        result.first = value.second;
        result.second = value.first;
    } else {
        result.second = add_jump(branch::if_true);
        result.first = add_jump(branch::always);
    }
    return result;
}

SemanticValue Parser::materialize(const SemanticValue& value) {
    if (value.kind != value_kind::condition)
        return value;
    resolve_jumps(value.first, instruction_count());
    add<ImConstBoolean>(true);
    const std::int32_t over = add_jump(branch::always);
    resolve_jumps(value.second, instruction_count());
    add<ImConstBoolean>(false);
    resolve_jumps(over, instruction_count());
    SemanticValue result = no_value();
    result.kind = value_kind::boolean;
    return result;
}

// ---- Expressions ----

SemanticValue Parser::binary(std::int32_t op, const SemanticValue& left,
                             const SemanticValue& right) {
    add<ImBinOp>(left.kind, right.kind, op);
    SemanticValue result = no_value();
    result.kind = op >= binary_op::lt ? value_kind::boolean : value_kind::unknown;
    return result;
}

SemanticValue Parser::negate(const SemanticValue& value) {
    add<ImUnOp>(value.kind);
    SemanticValue result = no_value();
    result.kind = value_kind::unknown;
    return result;
}

SemanticValue Parser::end_chain(const SemanticValue& suffixes) {
    add_command(command::deref);
    SemanticValue result = no_value();
    result.kind = suffixes.kind;
    return result;
}

namespace {

// Digits with an optional fraction, as the scanner reads them; too large a value becomes infinity.
float number_value(const std::string& text) {
    // Most literals are whole numbers of a few digits, exact as floats below 2^24: no general
    // parse for them.
    if (text.size() <= 7 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::uint32_t whole = 0;
        for (const char c : text)
            whole = whole * 10 + static_cast<std::uint32_t>(c - '0');
        return static_cast<float>(whole);
    }
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        value = std::strtof(text.c_str(), nullptr);
    return value;
}

}  // namespace

SemanticValue Parser::push_number(const std::string* text, std::int32_t line) {
    set_line(line);
    add<ImConstNumber>(number_value(*text));
    return of_kind(value_kind::number);
}

SemanticValue Parser::push_string(const std::string* text, std::int32_t line) {
    set_line(line);
    add<ImConstString>(*text);
    return of_kind(value_kind::string);
}

SemanticValue Parser::push_boolean(const std::string* text, std::int32_t line) {
    set_line(line);
    add<ImConstBoolean>(*text == "true");
    return of_kind(value_kind::boolean);
}

SemanticValue Parser::push_void(std::int32_t line) {
    set_line(line);
    add_command(command::push_void);
    return of_kind(value_kind::void_value);
}

SemanticValue Parser::push_this(std::int32_t line) {
    set_line(line);
    if (!in_class_)
        report(line, "\"this\" can only be used from within a class");
    add_command(command::push_this);
    return of_kind(value_kind::unknown);
}

SemanticValue Parser::push_identifier(const std::string* name, std::int32_t line) {
    set_line(line);
    add_value(*name);
    return of_kind(value_kind::unknown);
}

SemanticValue Parser::member(const std::string* name, std::int32_t line) {
    set_line(line);
    add<ImMember>(*name);
    return of_kind(value_kind::unknown);
}

SemanticValue Parser::convert(std::int32_t command, std::int32_t line) {
    set_line(line);
    add_command(command);
    return of_kind(command == command::cnv_number   ? value_kind::number
                   : command == command::cnv_string ? value_kind::string
                                                    : value_kind::boolean);
}

SemanticValue Parser::call(std::int32_t argument_count) {
    add<ImCall>(argument_count);
    return of_kind(value_kind::unknown);
}

void Parser::argument(const SemanticValue& value) {
    materialize(value);
    add_command(command::param);
}

}  // namespace kam::script
