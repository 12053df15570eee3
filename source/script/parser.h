// The script parser: reads one source, builds its scopes and its intermediate code.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iosfwd>
#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "script/code_buffer.h"
#include "script/scanner.h"
#include "script/scope.h"
#include "script/script_error.h"

namespace kam::script {

// Kinds of an expression's value.
namespace value_kind {
enum : std::int32_t {
    none = 0,
    boolean = 1,
    number = 2,
    unknown = 3,  // identifiers, this, members, calls, arithmetic
    string = 4,
    void_value = 5,
    condition = 6  // nothing on the stack: the true and false jump lists say where it goes
};
}

// The value of a grammar symbol. Jump lists are numbers into the parser's lists, -1 for none.
// The driver copies a value for every reduction and actions return them: at 16 bytes they travel
// in registers. Only tokens carry a text, and a token's jump lists are never read, so the two
// share their place.
struct SemanticValue {
    std::int32_t kind;
    std::int32_t line;  // of the symbol's first token
    union {
        struct {
            // True jumps, pending return jumps, a count or an instruction number.
            std::int32_t first;
            std::int32_t second;  // false jumps
        };
        const std::string* text;  // of an identifier or literal token, owned by the parser
    };
};

// Command numbers of the operand-less instructions.
namespace command {
enum : std::int32_t {
    deref = 0,
    pop = 1,
    swap = 2,
    param = 3,
    assign = 4,
    return_ = 5,
    push_void = 6,
    push_this = 7,
    cnv_number = 8,
    cnv_string = 9,
    cnv_boolean = 10
};
}

// Operator numbers of the binary instructions.
namespace binary_op {
enum : std::int32_t { add = 0, sub, mul, div, mod, lt, le, eq, ge, gt, ne };
}

// Conditions of a branch.
namespace branch {
enum : std::int32_t { always = 0, if_true = 1, if_false = 2 };
}

class Parser {
public:
    class ImInstruction;
    class ImBinOp;
    class ImUnOp;
    class ImCommand;
    class ImConstNumber;
    class ImConstString;
    class ImConstBoolean;
    class ImName;
    class ImMember;
    class ImCall;
    class ImGotoCond;
    class ImResizeLocal;
    class ImResizeParameters;

    struct FunctionRecord {
        std::int32_t first_instruction;
        std::string name;
        std::vector<std::string> parameters;
        std::int32_t code_offset = -1;  // from the start of the emitted code, once emitted
    };
    struct ClassRecord {
        std::int32_t first_instruction;
        std::string name;
        const Scope* scope;
    };

    // With emit_early, each top-level function and class is emitted when it ends and its
    // intermediate instructions are freed: memory follows the largest of them, not the file.
    // The listing then holds only what is not emitted yet.
    explicit Parser(Scanner& scanner, bool emit_early = false);
    ~Parser();
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // Parses the whole source; true when it was accepted without any error.
    bool parse();

    // Every message so far, one per line.
    const std::string& error_text() const { return error_text_; }
    std::int32_t error_count() const { return error_count_; }
    // Adds a finished message and counts it; for failures found after parsing.
    void append_error(const std::string& message);

    Scanner& scanner() { return scanner_; }
    const Scope& global_scope() const { return *scopes_.front(); }
    const std::vector<std::string>& imports() const { return imports_; }
    // In the order the parser met them: functions and methods interleaved.
    const std::deque<FunctionRecord>& functions() const { return functions_; }
    const std::vector<ClassRecord>& classes() const { return classes_; }

    // Instructions are numbered over the whole source; those emitted early are gone.
    std::int32_t instruction_count() const {
        return base_ + static_cast<std::int32_t>(instructions_.size());
    }
    bool has_instruction(std::int32_t index) const {
        return index >= base_ && index < instruction_count();
    }
    ImInstruction& instruction(std::int32_t index) {
        return *instructions_[static_cast<size_t>(index - base_)];
    }
    std::int32_t instruction_line(std::int32_t index) const {
        return lines_[static_cast<size_t>(index - base_)];
    }
    // One listing line per instruction.
    void print(std::ostream& out) const;

    // ---- Code generation (see code_generator.h). ----
    // Emits every instruction not emitted yet into the instructions' code; the first failure is
    // kept, and nothing is emitted after it.
    void emit_remaining();
    // False while the source is still being read: a name not found yet may be a function or
    // class declared later, so its global slot is filled in by resolve_late_names.
    bool names_complete() const { return names_complete_; }
    // A global value or reference written with slot 0 at the code position.
    void add_late_name(std::uint32_t position, std::int32_t index, const std::string& name,
                       bool reference);
    // Fills in the late names' slots; false, with the first failure kept, when one fails.
    bool resolve_late_names();
    // The instructions' code, offsets counted from its start.
    CodeBuffer& instruction_code() { return instruction_code_; }
    // The first failure of the generation with its instruction number and finished message.
    bool generation_failed() const { return failure_index_ >= 0; }
    const std::string& generation_failure() const { return failure_; }

    // ---- The table driver's side: token source and messages. ----
    std::int32_t read_token(SemanticValue& value);
    std::int32_t token_failed(const ScannerError& error, SemanticValue& value);
    // "syntax error" and the like: the source name, ":" and the text.
    void report_driver(const char* text);
    void report_stack_overflow();
    // The source name, "(line):" and the text.
    void report(std::int32_t line, const std::string& text);
    void report_statement_error(std::int32_t line);

    // ---- Grammar actions. ----
    static SemanticValue no_value() { return of_kind(value_kind::none); }
    static SemanticValue of_kind(std::int32_t kind) {
        SemanticValue value{kind, 0, {}};
        value.first = -1;
        value.second = -1;
        return value;
    }
    std::int32_t merge(std::int32_t list, std::int32_t other);

    void add_import(const std::string* name, std::int32_t line);
    const std::string* join_dotted(const std::string* head, const std::string* tail);

    void begin_function(const std::string* name, std::int32_t line);
    void declare_parameter(const std::string* name, std::int32_t line);
    void end_parameters();
    void end_function(const SemanticValue& body);

    std::int32_t begin_class(const std::string* name, std::int32_t line);
    void end_class(std::int32_t scope);

    std::int32_t open_block();
    void close_block(std::int32_t scope);

    void declare_object(const std::string* name, std::int32_t line);
    void begin_initializer(const std::string* name, std::int32_t line);
    void end_initializer(const SemanticValue& value);

    void push_target_value(const std::string* name, std::int32_t line);
    void push_target_reference(const std::string* name, std::int32_t line);
    void end_assignment(const SemanticValue& value);
    void end_call_statement();

    // The instruction number where the construct of the keyword begins; sets the source line.
    std::int32_t mark_keyword(std::int32_t line);
    // Sends the test's true jumps to the body that follows; keeps its false jumps.
    SemanticValue enter_branch(const SemanticValue& test);
    SemanticValue end_while(std::int32_t head, const SemanticValue& branch,
                            const SemanticValue& body);
    // The jump over the else part; the false jumps go to it.
    std::int32_t enter_else(const SemanticValue& branch);
    SemanticValue end_if(const SemanticValue& branch, const SemanticValue& body);
    SemanticValue end_if_else(std::int32_t over_else, const SemanticValue& then_body,
                              const SemanticValue& else_part);

    std::int32_t begin_for(const std::string* variable, const std::string* second,
                           std::int32_t line);
    SemanticValue for_loop_head(std::int32_t scope, const std::string* variable,
                                const std::string* second, const SemanticValue& list);
    SemanticValue end_for(const SemanticValue& head, const SemanticValue& body);

    SemanticValue return_statement(std::int32_t line, const SemanticValue* value);

    SemanticValue to_condition(const SemanticValue& value);
    SemanticValue empty_condition() { return of_kind(value_kind::condition); }
    SemanticValue or_left(const SemanticValue& left);
    SemanticValue or_right(const SemanticValue& left, const SemanticValue& right);
    SemanticValue and_left(const SemanticValue& left);
    SemanticValue and_right(const SemanticValue& left, const SemanticValue& right);
    SemanticValue negate_condition(const SemanticValue& value);
    // A condition used as a value becomes push true or push false.
    SemanticValue materialize(const SemanticValue& value);

    SemanticValue binary(std::int32_t op, const SemanticValue& left, const SemanticValue& right);
    SemanticValue negate(const SemanticValue& value);
    SemanticValue end_chain(const SemanticValue& suffixes);

    SemanticValue push_number(const std::string* text, std::int32_t line);
    SemanticValue push_string(const std::string* text, std::int32_t line);
    SemanticValue push_boolean(const std::string* text, std::int32_t line);
    SemanticValue push_void(std::int32_t line);
    SemanticValue push_this(std::int32_t line);
    SemanticValue push_identifier(const std::string* name, std::int32_t line);

    SemanticValue member(const std::string* name, std::int32_t line);
    SemanticValue convert(std::int32_t command, std::int32_t line);
    SemanticValue call(std::int32_t argument_count);
    void argument(const SemanticValue& value);

private:
    // Instructions live in one arena: a compile makes about ten per source line.
    template <typename Instruction, typename... Arguments>
    std::int32_t add(Arguments&&... arguments);
    std::int32_t add_command(std::int32_t command);
    // A branch whose target comes later; the result is a new jump list holding it.
    std::int32_t add_jump(std::int32_t condition);
    void add_branch_to(std::int32_t target);
    void add_value(const std::string& name);
    void add_reference(const std::string& name);
    void resolve_jumps(std::int32_t list, std::int32_t target);
    std::int32_t open_scope(ScopeKind kind);
    // A text that lives as long as the parser, for names the instructions refer to.
    const std::string* keep(const std::string& text);
    void set_line(std::int32_t line) { current_line_ = line; }
    void add_message(const std::string& message);
    void fail_generation(std::int32_t index, std::string message);
    // With emit_early, at the end of a top-level function or class.
    void emit_finished_unit();

    bool in_class_ = false;
    Scanner& scanner_;
    std::int32_t last_line_ = 0;
    std::int32_t last_column_ = 0;
    std::int32_t error_count_ = 0;
    std::int32_t current_line_ = 0;
    std::string error_text_;
    std::string last_message_;
    // The last token read: its text when it has one of its own, else its kind tells it.
    std::int32_t last_kind_ = -1;
    const std::string* last_text_ = nullptr;
    // Token texts keep their addresses while the parser refers to them. Dropping all but the
    // last keeps the chunks and their strings' storage for the next texts: a compile reads a
    // text for most tokens.
    class TextStore {
    public:
        const std::string* add(const std::string& text);
        // The slot the next text goes to, not yet kept: a token is scanned into it, and keep_next
        // keeps it when the token has a text; else the next token overwrites it.
        std::string& next() {
            if (used_ == chunk_size)
                start_chunk();
            return current_[used_];
        }
        const std::string* keep_next() { return &current_[used_++]; }
        void keep_last_only();

    private:
        void start_chunk();

        static constexpr size_t chunk_size = 256;
        std::vector<std::unique_ptr<std::string[]>> chunks_;
        std::vector<std::unique_ptr<std::string[]>> spare_;
        std::string* current_ = nullptr;  // the last chunk
        size_t used_ = chunk_size;        // in the last chunk
    };
    TextStore texts_;
    std::vector<std::unique_ptr<Scope>> scopes_;
    // Local scopes of emitted units, emptied for the next blocks.
    std::vector<std::unique_ptr<Scope>> spare_scopes_;
    Scope* current_;
    std::vector<std::string> imports_;
    std::deque<FunctionRecord> functions_;
    std::vector<ClassRecord> classes_;
    // Jump lists are chains through one node array, so merging is constant time.
    struct JumpNode {
        std::int32_t instruction;
        std::int32_t next;
    };
    struct JumpList {
        std::int32_t head;
        std::int32_t tail;
    };
    std::vector<JumpNode> jump_nodes_;
    std::vector<JumpList> jump_lists_;
    // A unit's instructions fit the first buffer mostly, which each unit's release goes back to:
    // a file's units took 25 aligned allocations and their frees from the system heap.
    static constexpr size_t arena_first_buffer = 32 * 1024;
    std::unique_ptr<std::byte[]> arena_buffer_ =
        std::make_unique_for_overwrite<std::byte[]>(arena_first_buffer);
    std::pmr::monotonic_buffer_resource arena_{arena_buffer_.get(), arena_first_buffer};
    std::vector<ImInstruction*> instructions_;
    std::vector<std::int32_t> lines_;

    bool emit_early_;
    bool names_complete_ = false;
    std::int32_t base_ = 0;     // the number of instructions_[0]
    std::int32_t emitted_ = 0;  // instructions emitted so far
    size_t next_function_offset_ = 0;
    size_t first_unit_scope_ = 0;  // the first scope opened since the last unit was emitted
    CodeBuffer instruction_code_;
    struct LateName {
        std::uint32_t position;
        std::int32_t index;
        std::int32_t line;
        bool reference;
        std::string name;
    };
    std::vector<LateName> late_names_;
    std::int32_t failure_index_ = -1;
    std::string failure_;
};

// Inline: the driver calls it for every token, and the call cost a tenth of the token's work.
// The value is written whole, once: the driver copies it with wide loads, and a load over
// narrower stores made just before waits for them to finish, once per token.
inline std::int32_t Parser::read_token(SemanticValue& value) {
    try {
        scanner_.advance(texts_.next());
    } catch (const ScannerError& error) {
        return token_failed(error, value);
    }
    SemanticValue result = no_value();
    const Token& token = scanner_.lookahead();
    last_line_ = result.line = token.line;
    last_column_ = token.column;
    last_kind_ = token.kind;
    if (token.kind == token::identifier || token.kind == token::string_literal ||
        token.kind == token::number_literal || token.kind == token::boolean_literal) {
        result.text = texts_.keep_next();
        last_text_ = result.text;
    } else {
        last_text_ = nullptr;
    }
    // As two words: assigned field by field, the kind and the line went out as two stores.
    const auto words = std::bit_cast<std::array<std::uint64_t, 2>>(result);
    std::memcpy(&value, words.data(), sizeof words);
    return token.kind;
}

}  // namespace kam::script
