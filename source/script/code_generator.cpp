// Declaration records, then the instructions' code.
#include "script/code_generator.h"

#include <string>

#include "script/im_instruction.h"
#include "script/script_error.h"

namespace kam::script {

namespace {

// Functions and classes take their records from the parser's lists in the order it met them,
// which is the order in which the walk over the scopes reaches their entries.
class DeclarationWriter {
public:
    DeclarationWriter(Parser& parser, CodeBuffer& code) : parser_(parser), code_(code) {}

    void write_scope(const Scope& scope) {
        for (const ScopeEntry& entry : scope.entries()) {
            switch (entry.kind) {
                case entry::import: write_import(); break;
                case entry::function: write_function(entry.name); break;
                case entry::class_entry: write_class(entry.name); break;
                default: code_.write_name(Opcode::object, entry.name, 0); break;
            }
        }
    }

private:
    void write_import() {
        const auto& imports = parser_.imports();
        if (next_import_ < imports.size()) code_.write_name(Opcode::import, imports[next_import_++], 0);
    }

    // The offset is not known until the function's first instruction is emitted; that
    // instruction patches the record.
    void write_function(const std::string& name) {
        const auto& functions = parser_.functions();
        const std::uint32_t position = code_.write_function(-1, name, 0);
        if (next_function_ >= functions.size()) return;
        const std::int32_t first = functions[next_function_++].first_instruction;
        if (first >= 0 && first < parser_.instruction_count()) parser_.instruction(first).add_fixup(position);
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
};

}  // namespace

bool generate(Parser& parser, CodeBuffer& code) {
    code.mark_generated();
    // Measured on generated programs: about three bytes of code per instruction.
    code.reserve(static_cast<size_t>(parser.instruction_count()) * 3 + 256);
    std::int32_t index = -1;  // the instruction being emitted; -1 while the records are written
    try {
        DeclarationWriter(parser, code).write_scope(parser.global_scope());
        code.write(Opcode::end, 0);
        for (index = 0; index < parser.instruction_count(); ++index) {
            parser.instruction(index).emit(code, parser, index);
        }
        return true;
    } catch (const GeneratorError& error) {
        parser.append_error(parser.scanner().name() + ": " + error.what());
    } catch (const ParserError& error) {
        const std::int32_t line = index >= 0 ? parser.instruction_line(index) : -1;
        std::string message = parser.scanner().name();
        if (line >= 0) message += "(" + std::to_string(line) + ")";
        parser.append_error(message + ": " + error.what());
    }
    return false;
}

}  // namespace kam::script
