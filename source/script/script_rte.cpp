// Loading scripts: compiled files when they can be trusted, else the source through the compiler.
#include "script/script_rte.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "script/code_generator.h"
#include "script/parser.h"
#include "script/script_error.h"
#include "utility/encoding.h"
#include "utility/output_streams.h"
#include "utility/path.h"

namespace kam::script {

namespace {

bool uses_compiled_files(int mode) {
    return mode != ScriptRTE::always_compile_stripped && mode != ScriptRTE::always_compile;
}
bool saves_debug_information(int mode) {
    return mode == ScriptRTE::save_if_modified || mode == ScriptRTE::always_compile;
}

}  // namespace

std::int32_t ScriptRTE::ArchiveScanner::read_char() {
    // Called when the supplied bytes of the loaded line are used up: its line break comes next.
    if (line_loaded_) {
        line_loaded_ = false;
        return '\n';
    }
    if (!by_lines_) {
        const std::int32_t c = read_block();
        if (c >= 0)
            return c;
    }
    if (archive_.remaining() == 0)
        return 0;
    archive_.read_line(line_);
    if (std::memchr(line_.data(), 0, line_.size()) != nullptr) {
        line_loaded_ = true;  // the line is dropped; scanning goes on after it
        const std::string source = name();
        const std::string where =
            line() > 0 ? source + "(" + std::to_string(line()) + "): " : std::string();
        throw ScannerError(where + "Zero byte in the source - not a text file");
    }
    if (line_.empty())
        return '\n';
    line_loaded_ = true;
    supply(line_.data() + 1, line_.data() + line_.size());
    return static_cast<unsigned char>(line_[0]);
}

// Whole lines are read a block at a time and scanned in place while they hold no carriage return
// and no zero byte, which are then read as they stand; from the first block that holds one on,
// the source is read line by line. The block is small: the source is never in memory as a whole.
std::int32_t ScriptRTE::ArchiveScanner::read_block() {
    constexpr std::int64_t block_size = 64 << 10;
    if (archive_.remaining() == 0)
        return -1;
    const std::int64_t start = archive_.position();
    const auto wanted = static_cast<std::uint32_t>(std::min(block_size, archive_.remaining()));
    block_.resize(wanted);
    const std::uint32_t got = archive_.checked_read(block_.data(), wanted);
    const bool last = archive_.remaining() == 0;
    size_t end = got;
    if (!last) {
        const size_t feed = got == wanted ? block_.rfind('\n') : std::string::npos;
        end = feed == std::string::npos ? 0 : feed + 1;
    }
    if (end == 0 || std::memchr(block_.data(), '\r', end) != nullptr ||
        std::memchr(block_.data(), '\0', end) != nullptr) {
        by_lines_ = true;
        archive_.set_position(start);
        return -1;
    }
    archive_.set_position(start + static_cast<std::int64_t>(end));
    // A last line without a line break gets one, as read line by line.
    line_loaded_ = last && block_[end - 1] != '\n';
    supply(block_.data() + 1, block_.data() + end);
    return static_cast<unsigned char>(block_[0]);
}

ScriptRTE::ScriptRTE(const std::string& root, int mode)
    : root_(normalize_path(root, false, true)), mode_(mode) {}

int ScriptRTE::load(const std::string& script) {
    return load(script, {});
}

int ScriptRTE::load(const std::string& script, std::span<VirtualFileSystem::Found> known) {
    const std::string name = normalize_path(script, false, false);
    if (const auto found = program_numbers_.find(name); found != program_numbers_.end())
        return found->second;

    VirtualFileSystem& files = VirtualFileSystem::instance();
    // The caller's lookup of a path when it made one, else a new one kept in the storage given.
    const auto find = [&](const std::string& path, VirtualFileSystem::Found& storage,
                          bool open_file) -> VirtualFileSystem::Found& {
        // The paths load builds are canonical already when the file system's are.
        for (VirtualFileSystem::Found& found : known) {
            if (found.path == path)
                return found;
        }
        if (!known.empty()) {
            const std::string canonical = normalize_path(path, false, false);
            for (VirtualFileSystem::Found& found : known) {
                if (found.path == canonical)
                    return found;
            }
        }
        storage = open_file ? files.find_file(path) : files.find(path);
        return storage;
    };
    VirtualFileSystem::Found source_storage, compiled_storage;
    // Opened while it is looked up when it is certain to be compiled.
    VirtualFileSystem::Found& source =
        find(concat(name, ".ksf"), source_storage, !uses_compiled_files(mode_));
    // Beside the source, wherever the file system that holds it says it is.
    std::string compiled_path = source.found() ? files.source_path(source) : std::string();
    if (compiled_path.size() >= 4) {
        compiled_path.replace(compiled_path.size() - 4, 4, ".kxe");
    } else {
        compiled_path = concat(name, ".kxe");
    }
    // Found by opening it: a compiled file that is used is read through the same handle.
    VirtualFileSystem::Found* compiled = nullptr;
    if (!source.found()) {
        compiled = &find(compiled_path, compiled_storage, true);
        if (!compiled->found())
            throw Error("Script: " + name + " not found!");
    } else if (uses_compiled_files(mode_)) {
        compiled = &find(compiled_path, compiled_storage, true);
        const bool older = compiled->info.modification_time < source.info.modification_time;
        if (!compiled->found() || older)
            compiled = nullptr;
    }
    if (compiled != nullptr) {
        const auto no_source = [&] {
            return "; there is no source " + name + ".ksf to compile it from";
        };
        try {
            int number = -1;
            if (read_compiled(name, *compiled, number))
                return number;
            if (!source.found()) {
                throw Error("File " + compiled_path + " is not a compiled script" + no_source());
            }
        } catch (const CompiledScriptError& error) {
            // Rebuilt from the source like a file of the wrong kind: it is only derived data.
            if (!source.found())
                throw Error(error.what() + no_source());
        } catch (const DiskError&) {
            // Unreadable, or no regular file at all: saving over it says why when it fails too.
            if (!source.found())
                throw;
        }
    }
    // Nothing stays open while the source is compiled and its compiled file written.
    for (VirtualFileSystem::Found& found : known)
        found.file = Archive();
    compiled_storage.file = Archive();
    return compile_source(name, source, compiled_path);
}

int ScriptRTE::add_program(const std::string& name, std::vector<std::uint8_t> code, LineMap lines) {
    const int number = program_count();
    programs_.push_back(Program{concat(name, ".ksf"), name, std::move(code), std::move(lines)});
    program_numbers_.emplace(name, number);
    return number;
}

bool ScriptRTE::read_compiled(const std::string& name, VirtualFileSystem::Found& compiled,
                              int& number) {
    Archive file = VirtualFileSystem::instance().open(compiled, "r");
    CompiledScript script;
    const bool read_debug = !ignore_debug_information_;
    const CompiledScriptRead read = check_compiled_only_
                                        ? check_compiled_script(file, read_debug)
                                        : read_compiled_script(file, read_debug, script);
    if (read == CompiledScriptRead::wrong_magic)
        return false;
    number = add_program(name, std::move(script.code), std::move(script.lines));
    return true;
}

int ScriptRTE::compile_source(const std::string& name, VirtualFileSystem::Found& source,
                              const std::string& compiled_path) {
    Archive file = VirtualFileSystem::instance().open(source, "r");
    // Gone since it was found: compiling nothing would save an empty program in its place.
    if (!file.has_store())
        throw Error("Script: " + name + " not found!");
    ArchiveScanner scanner(file);
    return compile(name, scanner, compiled_path, static_cast<size_t>(file.size()));
}

// A program has about as many bytes of code as of source. The room reserved for twice that (up
// to 256 MiB) is only address space until it is written, while growing by copies touches the
// pages of every smaller copy too.
int ScriptRTE::compile(const std::string& name, Scanner& scanner, const std::string& compiled_path,
                       size_t source_size) {
    Parser parser(scanner, true);
    parser.instruction_code().reserve(std::min(2 * source_size, size_t{256} << 20) + 256);
    if (!parser.parse())
        throw Error(parser.error_text());
    CodeBuffer code(true);
    if (!generate(parser, code))
        throw Error(parser.error_text());

    if (mode_ != load_only)
        save_compiled(compiled_path, code, concat(name, ".ksf"));
    // A check keeps no code, as when it finds a compiled file.
    if (check_compiled_only_)
        return add_program(name, {}, LineMap());
    // The table is made from the code: taken first.
    LineMap lines(code.take_lines());
    return add_program(name, code.take_code(), std::move(lines));
}

// A compiled file is derived data: when it cannot be written the load still stands, and the
// user hears why the file is missing. A partly written file is removed, not left to be trusted.
void ScriptRTE::save_compiled(const std::string& compiled_path, const CodeBuffer& code,
                              const std::string& source_path) {
    VirtualFileSystem& files = VirtualFileSystem::instance();
    const auto report = [compiled_path](const std::string& failure) {
        error_stream << "Cannot save compiled script " << compiled_path << ": " << failure
                     << std::endl;
    };
    std::string failure;
    try {
        // The file goes in place at the job's release, and a failure then is reported then.
        const bool created = write_whole_file(
            files, compiled_path,
            [&](Archive& file) {
                write_compiled_script(file, code, source_path, saves_debug_information(mode_));
            },
            [report](const DiskError& error) { report(error.what()); });
        if (!created)
            failure = "no file system can create it";
    } catch (const TrovexError&) {
        throw;  // reported already: break-on-error
    } catch (const std::runtime_error& error) {
        failure = error.what();
    }
    if (!failure.empty())
        report(failure);
}

}  // namespace kam::script
