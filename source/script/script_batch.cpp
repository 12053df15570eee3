// Compiling files one by one and directory trees with an error handler per file.
#include "script/script_batch.h"

#include <stdexcept>
#include <vector>

#include "script/script_rte.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"

namespace kam::script {

int ScriptBatch::mode_for(bool strip, bool only_if_modified) {
    if (only_if_modified) return strip ? ScriptRTE::save_stripped_if_modified : ScriptRTE::save_if_modified;
    return strip ? ScriptRTE::always_compile_stripped : ScriptRTE::always_compile;
}

std::ostringstream& ScriptBatch::collected_errors() {
    static std::ostringstream* errors = new std::ostringstream();  // lives until the process ends
    return *errors;
}

void ScriptBatch::compile_file(const std::string& path, const std::string& shown) {
    const std::string stem = path.substr(0, path.size() - extension(path).size());
    bool up_to_date = false;
    if (mode_ != ScriptRTE::always_compile_stripped && mode_ != ScriptRTE::always_compile) {
        VirtualFileSystem& files = VirtualFileSystem::instance();
        // A missing compiled file has time 0, which no source time is below.
        up_to_date = files.modification_time(path) < files.modification_time(stem + ".kxe");
    }
    if (!up_to_date) log_verbose << "Compiling " << shown << std::endl;
    ScriptRTE("not_used", mode_).load(stem);
}

void ScriptBatch::compile_directory(const std::string& directory) {
    VirtualFileSystem& files = VirtualFileSystem::instance();
    const std::string prefix = normalize_path(directory, true, false);
    std::vector<std::string> names;
    files.list(directory, "*.*", false, names);
    for (const std::string& name : names) {
        if (extension(name) != ".ksf") continue;
        try {
            compile_file(prefix + name);
        } catch (const TrovexError&) {
            throw;  // printed already: break-on-error ends the command
        } catch (const std::runtime_error& error) {
            if (!report_all_) {
                error_stream << error.what() << std::endl;
                continue;
            }
            std::ostringstream& collected = collected_errors();
            if (collected.tellp() > 0) collected << "ERROR: ";
            collected << error.what() << '\n';
        }
    }
    names.clear();
    files.list(directory, "*.*", true, names);
    for (const std::string& name : names) compile_directory(prefix + name);
}

}  // namespace kam::script
