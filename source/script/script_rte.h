// The script runtime environment's loader: turns a script name into a loaded program, compiling
// the source when its compiled file is missing, stale or damaged.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/compiled_script.h"
#include "script/scanner.h"
#include "utility/archive.h"
#include "utility/errors.h"
#include "utility/virtual_file_system.h"

namespace kam::script {

class ScriptRTE {
public:
    // A script that cannot be loaded: not found, not compiled (the compiler's messages, one per
    // line), or a damaged compiled file without a source.
    class Error : public ErrorWithCStack {
    public:
        using ErrorWithCStack::ErrorWithCStack;
    };

    // Reads a source line by line through the archive's read_line and hands each line to the
    // scanner in one piece. Refuses a line holding a zero byte with a ScannerError: the scanner
    // would take it for the end of the input and drop the rest of the file unseen.
    class ArchiveScanner : public Scanner {
    public:
        explicit ArchiveScanner(Archive& archive) : archive_(archive) {}
        // The archive's path.
        std::string name() const override { return archive_.name(); }
        std::int32_t read_char() override;

    private:
        // Supplies the next block of whole lines and returns its first character; -1 when the
        // source is read line by line from here on.
        std::int32_t read_block();

        Archive& archive_;
        std::string line_;
        bool line_loaded_ = false;  // its bytes are supplied; its line break is still to come
        std::string block_;
        bool by_lines_ = false;
    };

    // What a load may do with compiled files:
    //   mode                     0    1    2    3    4
    //   use an up-to-date one    yes  yes  yes  no   no
    //   save after compiling     no   yes  yes  yes  yes
    //   with debug information   -    no   yes  no   yes
    enum Mode : int {
        load_only = 0,
        save_stripped_if_modified = 1,
        save_if_modified = 2,
        always_compile_stripped = 3,
        always_compile = 4
    };

    struct Program {
        std::string source_path;  // name + ".ksf"
        std::string name;
        std::vector<std::uint8_t> code;
        LineMap line_map;
    };

    ScriptRTE(const std::string& root, int mode);

    // The program number of the script (canonical name, without extension), loading it first
    // when this environment has not: from its compiled file when that is up to date and sound,
    // else by compiling the source and, unless the mode is 0, saving the compiled file beside the
    // source. Throws Error when it cannot; a compiled file that cannot be saved is reported on the
    // error stream and the load goes on.
    int load(const std::string& name);
    // The same, taking the caller's lookups of the source or the compiled file (matched by their
    // canonical paths) instead of looking them up again. A file a lookup holds open is read from,
    // or closed before the source is compiled.
    int load(const std::string& name, std::span<VirtualFileSystem::Found> known);

    const Program& program(int number) const { return programs_[static_cast<size_t>(number)]; }
    int program_count() const { return static_cast<int>(programs_.size()); }
    const std::string& root() const { return root_; }
    int mode() const { return mode_; }
    // Leaves line maps empty when compiled files are read.
    void set_ignore_debug_information(bool ignore) { ignore_debug_information_ = ignore; }
    // An up-to-date compiled file is then only checked, as reading it would, without its code
    // being read: its program holds no code and no lines. For callers that make sure compiled files
    // are sound and never use the programs.
    void set_check_compiled_only(bool check) { check_compiled_only_ = check; }

private:
    int add_program(const std::string& name, std::vector<std::uint8_t> code, LineMap lines);
    // False when the file is not a compiled script; throws CompiledScriptError when it is damaged.
    bool read_compiled(const std::string& name, VirtualFileSystem::Found& compiled, int& number);
    int compile_source(const std::string& name, VirtualFileSystem::Found& source,
                       const std::string& compiled_path);
    // Compiles the scanner's source and saves it as the mode says; returns the program number.
    int compile(const std::string& name, Scanner& scanner, const std::string& compiled_path,
                size_t source_size);
    void save_compiled(const std::string& compiled_path, const CodeBuffer& code,
                       const std::string& source_path);

    std::unordered_map<std::string, int> program_numbers_;
    std::vector<Program> programs_;
    std::string root_;
    int mode_;
    bool ignore_debug_information_ = false;
    bool check_compiled_only_ = false;
};

}  // namespace kam::script
