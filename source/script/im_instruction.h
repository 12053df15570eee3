// Intermediate instructions: what the parser emits, resolved to bytecode at generation time.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "script/code_buffer.h"
#include "script/parser.h"

namespace kam::script {

class Parser::ImInstruction {
public:
    virtual ~ImInstruction() = default;

    // Typed down-casts: the instruction itself when it is of that kind, else null.
    virtual ImBinOp* as_bin_op() { return nullptr; }
    virtual ImUnOp* as_un_op() { return nullptr; }
    virtual ImCommand* as_command() { return nullptr; }
    virtual ImConstNumber* as_const_number() { return nullptr; }
    virtual ImConstString* as_const_string() { return nullptr; }
    virtual ImConstBoolean* as_const_boolean() { return nullptr; }
    virtual ImName* as_name() { return nullptr; }
    virtual ImMember* as_member() { return nullptr; }
    virtual ImCall* as_call() { return nullptr; }
    virtual ImGotoCond* as_goto_cond() { return nullptr; }
    virtual ImResizeLocal* as_resize_local() { return nullptr; }

    // Writes the listing line, ended by a line break.
    virtual void print(std::ostream& out) const = 0;
    // Writes the code. This base records the code offset and patches every branch or function
    // record waiting for it. Throws GeneratorError or ParserError.
    virtual void emit(CodeBuffer& code, Parser& parser, std::int32_t index);
    // Whether the destructor has anything to free: most instructions have nothing, and a virtual
    // call for each showed in the profile.
    bool owns_memory() const { return more_fixups_ != nullptr; }

    // -1 until emitted.
    std::int32_t code_offset() const { return code_offset_; }
    // A code position whose u32 after the opcode is to receive this instruction's offset.
    void add_fixup(std::uint32_t position);
    bool has_fixups() const { return first_fixup_ != no_fixup; }

protected:
    // What every emit does first: the base's emit without its call.
    void place(CodeBuffer& code) {
        code_offset_ = static_cast<std::int32_t>(code.size());
        if (first_fixup_ != no_fixup)
            patch_fixups(code);
    }

private:
    static constexpr std::uint32_t no_fixup = 0xffffffffu;

    void patch_fixups(CodeBuffer& code);

    // Few instructions are branch targets and most of those have one waiting branch: the first
    // position is kept inline, a list exists only once a second one is added.
    std::uint32_t first_fixup_ = no_fixup;
    std::int32_t code_offset_ = -1;
    std::unique_ptr<std::vector<std::uint32_t>> more_fixups_;
};

class Parser::ImBinOp : public Parser::ImInstruction {
public:
    ImBinOp(std::int32_t left_kind, std::int32_t right_kind, std::int32_t op)
        : left_kind_(left_kind), right_kind_(right_kind), op_(op) {}
    ImBinOp* as_bin_op() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    std::int32_t left_kind() const { return left_kind_; }
    std::int32_t right_kind() const { return right_kind_; }
    std::int32_t op() const { return op_; }

private:
    std::int32_t left_kind_;
    std::int32_t right_kind_;
    std::int32_t op_;
};

class Parser::ImUnOp : public Parser::ImInstruction {
public:
    explicit ImUnOp(std::int32_t operand_kind) : operand_kind_(operand_kind) {}
    ImUnOp* as_un_op() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    std::int32_t operand_kind() const { return operand_kind_; }
    // A suppressed negation writes neither code nor listing.
    void suppress() { suppressed_ = true; }

private:
    std::int32_t operand_kind_;
    bool suppressed_ = false;
};

class Parser::ImCommand : public Parser::ImInstruction {
public:
    explicit ImCommand(std::int32_t command) : command_(command) {}
    ImCommand* as_command() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    std::int32_t command() const { return command_; }

private:
    std::int32_t command_;
};

class Parser::ImConstNumber : public Parser::ImInstruction {
public:
    explicit ImConstNumber(float value) : value_(value) {}
    ImConstNumber* as_const_number() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    float value() const { return value_; }

private:
    float value_;
};

// Names and texts are not copied: they stay with the parser as long as the instructions.
class Parser::ImConstString : public Parser::ImInstruction {
public:
    explicit ImConstString(const std::string& text) : text_(text) {}
    ImConstString* as_const_string() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    const std::string& text() const { return text_; }

private:
    const std::string& text_;
};

class Parser::ImConstBoolean : public Parser::ImInstruction {
public:
    explicit ImConstBoolean(bool value) : value_(value) {}
    ImConstBoolean* as_const_boolean() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    bool value() const { return value_; }

private:
    bool value_;
};

// The value of a name, or a reference to it for an assignment target.
class Parser::ImName : public Parser::ImInstruction {
public:
    enum class Use { value, reference };

    ImName(const std::string& name, const Scope* scope, Use use)
        : name_use_(name, scope), use_(use) {}
    ImName* as_name() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    const std::string& name() const { return name_use_.name(); }
    Resolution resolution() const { return name_use_.resolve(); }

private:
    NameUse name_use_;
    Use use_;
};

class Parser::ImMember : public Parser::ImInstruction {
public:
    explicit ImMember(const std::string& name) : name_(name) {}
    ImMember* as_member() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    const std::string& name() const { return name_; }

private:
    const std::string& name_;
};

class Parser::ImCall : public Parser::ImInstruction {
public:
    explicit ImCall(std::int32_t argument_count) : argument_count_(argument_count) {}
    ImCall* as_call() override { return this; }
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    std::int32_t argument_count() const { return argument_count_; }

private:
    std::int32_t argument_count_;
};

class Parser::ImGotoCond : public Parser::ImInstruction {
public:
    ImGotoCond(std::int32_t condition, std::int32_t target)
        : target_(target), condition_(condition) {}
    ImGotoCond* as_goto_cond() override { return this; }
    void print(std::ostream& out) const override;
    // A target emitted already gets its offset now; a later one patches this branch itself.
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;
    std::int32_t target() const { return target_; }
    void set_target(std::int32_t target) { target_ = target; }
    std::int32_t condition() const { return condition_; }

private:
    std::int32_t target_;
    std::int32_t condition_;
};

class Parser::ImResizeLocal : public Parser::ImInstruction {
public:
    explicit ImResizeLocal(const Scope* scope) : scope_(scope) {}
    ImResizeLocal* as_resize_local() override { return this; }
    void print(std::ostream& out) const override;
    // Writes only when the scope chain holds more locals than the enclosing one.
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;

private:
    const Scope* scope_;
};

class Parser::ImResizeParameters : public Parser::ImInstruction {
public:
    explicit ImResizeParameters(const FunctionRecord* function) : function_(function) {}
    void print(std::ostream& out) const override;
    void emit(CodeBuffer& code, Parser& parser, std::int32_t index) override;

private:
    const FunctionRecord* function_;
};

}  // namespace kam::script
