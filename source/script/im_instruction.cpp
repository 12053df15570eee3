// Listing lines and code of the intermediate instructions.
#include "script/im_instruction.h"

#include <array>
#include <string_view>

#include "script/script_error.h"

namespace kam::script {

namespace {

constexpr std::array<const char*, 11> binary_names = {"add", "sub", "mul", "div", "mod", "lt",
                                                      "le",  "eq",  "ge",  "gt",  "ne"};
constexpr std::array<Opcode, 11> binary_opcodes = {
    Opcode::add, Opcode::sub, Opcode::mul, Opcode::div, Opcode::mod, Opcode::lt,
    Opcode::le,  Opcode::eq,  Opcode::ge,  Opcode::gt,  Opcode::ne};
constexpr std::array<const char*, 11> command_names = {
    "deref",      "pop",        "swap",       "param",      "assign",     "return",
    "push\tvoid", "push\tthis", "cnv_number", "cnv_string", "cnv_boolean"};
// Swap has no opcode of its own; it writes nothing.
constexpr std::array<Opcode, 11> command_opcodes = {
    Opcode::deref,      Opcode::pop,        Opcode::end,        Opcode::param,
    Opcode::assign,     Opcode::end,        Opcode::push_void,  Opcode::push_this,
    Opcode::cnv_number, Opcode::cnv_string, Opcode::cnv_boolean};
constexpr std::array<const char*, 3> branch_names = {"bra", "brif", "brifn"};
constexpr std::array<Opcode, 3> branch_opcodes = {Opcode::bra, Opcode::brif, Opcode::brifn};

void print_resolution(std::ostream& out, const Resolution& where, const char* prefix,
                      const std::string& name) {
    switch (where.place) {
        case Resolution::Place::local:
            out << "\t;" << prefix << "local[" << where.slot << "]";
            break;
        case Resolution::Place::member:
            out << "\t;" << prefix << "class[" << where.slot << "]";
            break;
        case Resolution::Place::global:
            out << "\t;" << prefix << "global[" << where.slot << "]";
            break;
        case Resolution::Place::not_found:
            out << "\t;error: " << name << " not found";
            break;
    }
    out << '\n';
}

[[noreturn]] void fail_not_found(const std::string& name) {
    throw ParserError("Id not found \"" + name + "\"");
}

bool is_object(std::int32_t kind) {
    return kind == entry::object || kind == 2;
}

// The total the enclosing function or block scope already holds; 0 when there is none.
std::int32_t enclosing_total(const Scope* scope) {
    const Scope* outer = scope != nullptr ? scope->parent() : nullptr;
    return outer != nullptr ? outer->local_total() : 0;
}

}  // namespace

void Parser::ImInstruction::add_fixup(std::uint32_t position) {
    if (first_fixup_ == no_fixup) {
        first_fixup_ = position;
        return;
    }
    if (more_fixups_ == nullptr)
        more_fixups_ = std::make_unique<std::vector<std::uint32_t>>();
    more_fixups_->push_back(position);
}

void Parser::ImInstruction::emit(CodeBuffer& code, Parser&, std::int32_t) {
    place(code);
}

void Parser::ImInstruction::patch_fixups(CodeBuffer& code) {
    const auto offset = static_cast<std::uint32_t>(code_offset_);
    code.patch_offset(first_fixup_, offset);
    first_fixup_ = no_fixup;
    if (more_fixups_ == nullptr)
        return;
    for (std::uint32_t position : *more_fixups_)
        code.patch_offset(position, offset);
    more_fixups_->clear();
}

void Parser::ImBinOp::print(std::ostream& out) const {
    out << '\t' << binary_names[static_cast<size_t>(op_)] << '\n';
}

void Parser::ImBinOp::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    code.write(binary_opcodes[static_cast<size_t>(op_)], parser.instruction_line(index));
}

void Parser::ImUnOp::print(std::ostream& out) const {
    if (!suppressed_)
        out << "\tnegate\n";
}

void Parser::ImUnOp::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    if (!suppressed_)
        code.write(Opcode::negate, parser.instruction_line(index));
}

void Parser::ImCommand::print(std::ostream& out) const {
    out << '\t' << command_names[static_cast<size_t>(command_)] << '\n';
}

void Parser::ImCommand::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    if (command_ != command::swap)
        code.write(command_opcodes[static_cast<size_t>(command_)], parser.instruction_line(index));
}

void Parser::ImConstNumber::print(std::ostream& out) const {
    out << "\tpush\t" << value_ << '\n';
}

void Parser::ImConstNumber::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    code.write_number(value_, parser.instruction_line(index));
}

void Parser::ImConstString::print(std::ostream& out) const {
    out << "\tpush\t\"" << text_ << "\"\n";
}

void Parser::ImConstString::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    code.write_name(Opcode::push_string, text_, parser.instruction_line(index));
}

void Parser::ImConstBoolean::print(std::ostream& out) const {
    out << "\tpush\t" << (value_ ? "true" : "false") << '\n';
}

void Parser::ImConstBoolean::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    code.write(value_ ? Opcode::push_true : Opcode::push_false, parser.instruction_line(index));
}

void Parser::ImName::print(std::ostream& out) const {
    const char* const mark = use_ == Use::reference ? "&" : "";
    out << "\tpush\t" << mark << name();
    print_resolution(out, resolution(), mark, name());
}

// Functions, classes and imports have no reference of their own: outside locals their value is
// pushed.
void Parser::ImName::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    const Resolution where = resolution();
    const std::int32_t line = parser.instruction_line(index);
    const bool reference = use_ == Use::reference &&
                           (where.place == Resolution::Place::local || is_object(where.entry_kind));
    switch (where.place) {
        case Resolution::Place::local:
            code.write_count(reference ? Opcode::push_local_reference : Opcode::push_local_value,
                             where.slot, line);
            break;
        case Resolution::Place::member:
            code.write_count(reference ? Opcode::push_member_reference : Opcode::push_member_value,
                             where.slot, line);
            break;
        case Resolution::Place::global:
            code.write_count(reference ? Opcode::push_global_reference : Opcode::push_global_value,
                             where.slot, line);
            break;
        case Resolution::Place::not_found:
            if (parser.names_complete())
                fail_not_found(name());
            parser.add_late_name(code.write_count(Opcode::push_global_value, 0, line), index,
                                 name(), use_ == Use::reference);
            break;
    }
}

void Parser::ImMember::print(std::ostream& out) const {
    out << "\tmember\t\"" << name_ << "\"\n";
}

void Parser::ImMember::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    const std::int32_t line = parser.instruction_line(index);
    // As views: the lengths are compared first, most members match none of them there.
    const std::string_view name = name_;
    if (name == "number") {
        code.write(Opcode::cnv_number, line);
    } else if (name == "string") {
        code.write(Opcode::cnv_string, line);
    } else if (name == "boolean") {
        code.write(Opcode::cnv_boolean, line);
    } else {
        code.write_name(Opcode::member, name_, line);
    }
}

void Parser::ImCall::print(std::ostream& out) const {
    out << "\tcall\t" << argument_count_ << '\n';
}

void Parser::ImCall::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    code.write_count(Opcode::call, argument_count_, parser.instruction_line(index));
}

void Parser::ImGotoCond::print(std::ostream& out) const {
    out << '\t' << branch_names[static_cast<size_t>(condition_)] << '\t' << target_ << '\n';
}

void Parser::ImGotoCond::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    const Opcode opcode = branch_opcodes[static_cast<size_t>(condition_)];
    const std::int32_t line = parser.instruction_line(index);
    // Only a failed parse leaves a target outside the list; its code is never saved.
    if (!parser.has_instruction(target_)) {
        code.write_offset(opcode, -1, line);
        return;
    }
    ImInstruction& target = parser.instruction(target_);
    if (target.code_offset() >= 0) {
        code.write_offset(opcode, target.code_offset(), line);
    } else {
        target.add_fixup(code.write_offset(opcode, -1, line));
    }
}

void Parser::ImResizeLocal::print(std::ostream& out) const {
    out << "\tresize_local\t" << scope_->local_total() << '\n';
}

void Parser::ImResizeLocal::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    const std::int32_t total = scope_->local_total();
    if (total > enclosing_total(scope_))
        code.write_count(Opcode::resize_locals, total, parser.instruction_line(index));
}

void Parser::ImResizeParameters::print(std::ostream& out) const {
    out << "\tresize_parameters\t" << function_->parameters.size() << '\n';
}

void Parser::ImResizeParameters::emit(CodeBuffer& code, Parser& parser, std::int32_t index) {
    place(code);
    code.write_count(Opcode::resize_locals, static_cast<std::int64_t>(function_->parameters.size()),
                     parser.instruction_line(index));
}

}  // namespace kam::script
