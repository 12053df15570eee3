// Declaration records, then the instructions' code.
#include "script/code_generator.h"

#include <cstdint>
#include <string>

#include "script/im_instruction.h"
#include "script/script_error.h"

namespace kam::script {

namespace {

// Functions and classes take their records from the parser's lists in the order it met them,
// which is the order in which the walk over the scopes reaches their entries.
class DeclarationWriter {
public:
    DeclarationWriter(Parser& parser, CodeBuffer& code, std::uint32_t records_size)
        : parser_(parser), code_(code), records_size_(records_size) {}

    void write_scope(const Scope& scope) {
        for (const ScopeEntry& entry : scope.entries()) {
            switch (entry.kind) {
                case entry::import:
                    write_import();
                    break;
                case entry::function:
                    write_function(entry.name);
                    break;
                case entry::class_entry:
                    write_class(entry.name);
                    break;
                default:
                    code_.write_name(Opcode::object, entry.name, 0);
                    break;
            }
        }
    }

private:
    void write_import() {
        const auto& imports = parser_.imports();
        if (next_import_ < imports.size())
            code_.write_name(Opcode::import, imports[next_import_++], 0);
    }

    // Offsets are counted from the start of the instructions' code, which follows the records.
    void write_function(const std::string& name) {
        const auto& functions = parser_.functions();
        std::int32_t offset = -1;
        if (next_function_ < functions.size()) {
            const std::int32_t emitted = functions[next_function_++].code_offset;
            if (emitted >= 0)
                offset = emitted + static_cast<std::int32_t>(records_size_);
        }
        code_.write_function(offset, name, 0);
    }

    void write_class(const std::string& name) {
        code_.write_name(Opcode::class_begin, name, 0);
        const auto& classes = parser_.classes();
        if (next_class_ < classes.size()) {
            for (const ScopeEntry& entry : classes[next_class_++].scope->entries()) {
                if (entry.kind == entry::function) {
                    write_function(entry.name);
                } else {
                    code_.write_name(Opcode::object, entry.name, 0);
                }
            }
        }
        code_.write(Opcode::class_end, 0);
    }

    Parser& parser_;
    CodeBuffer& code_;
    size_t next_import_ = 0;
    size_t next_function_ = 0;
    size_t next_class_ = 0;
    std::uint32_t records_size_;
};

}  // namespace

bool generate(Parser& parser, CodeBuffer& code) {
    code.mark_generated();
    parser.emit_remaining();
    if (!parser.resolve_late_names() || parser.generation_failed()) {
        parser.append_error(parser.generation_failure());
        return false;
    }
    // The records' size is needed in their own function offsets: they are written twice, the
    // first time only to be measured.
    CodeBuffer measure(false);
    DeclarationWriter(parser, measure, 0).write_scope(parser.global_scope());
    DeclarationWriter(parser, code, measure.size() + 1).write_scope(parser.global_scope());
    code.write(Opcode::end, 0);
    code.append_moved(parser.instruction_code());
    return true;
}

}  // namespace kam::script
