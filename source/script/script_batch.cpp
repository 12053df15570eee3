// Compiling files one by one and directory trees with an error handler per file.
#include "script/script_batch.h"

#include <array>
#include <span>
#include <stdexcept>
#include <vector>

#include "script/script_rte.h"
#include "utility/depfile.h"
#include "utility/disk_file_system.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"

namespace kam::script {

int ScriptBatch::mode_for(bool strip, bool only_if_modified) {
    if (only_if_modified)
        return strip ? ScriptRTE::save_stripped_if_modified : ScriptRTE::save_if_modified;
    return strip ? ScriptRTE::always_compile_stripped : ScriptRTE::always_compile;
}

void ScriptBatch::compile_file(const std::string& path, const std::string& shown) {
    const std::string stem = path.substr(0, path.size() - extension(path).size());
    bool up_to_date = false;
    // The load takes these lookups instead of making its own.
    std::array<VirtualFileSystem::Found, 2> found;
    std::span<VirtualFileSystem::Found> known;
    if (mode_ != ScriptRTE::always_compile_stripped && mode_ != ScriptRTE::always_compile) {
        VirtualFileSystem& files = VirtualFileSystem::instance();
        found[0] = files.find(path);
        // Opened while it is looked up: an up-to-date compiled file is read next.
        found[1] = files.find_file(concat(stem, ".kxe"));
        // A missing compiled file has time 0, which no source time is below.
        up_to_date = found[0].info.modification_time < found[1].info.modification_time;
        known = found;
    }
    if (!up_to_date)
        log_verbose << "Compiling " << shown << std::endl;
    // Only loaded to be compiled or checked: nothing runs the program.
    ScriptRTE scripts("not_used", mode_);
    scripts.set_check_compiled_only(true);
    scripts.load(stem, known);
    if (depfile_disk_) {
        Depfile depfile(depfile_disk_->spelled_path(concat(stem, ".kxe")));
        const std::string depfile_path = depfile.target() + ".d";
        // What it names is known without compiling: a kept file only needs it when it is missing.
        if (!up_to_date || !default_disk_file_system().exists(depfile_path)) {
            depfile.add(depfile_disk_->spelled_path(path));
            depfile.write(depfile_path);
        }
    }
}

void ScriptBatch::wait_if_handed_out(const std::string& path, JobQueue& queue) {
    const bool if_modified =
        mode_ != ScriptRTE::always_compile_stripped && mode_ != ScriptRTE::always_compile;
    const bool again = !handed_out_.insert(normalize_path(path, false, false)).second;
    if (again && if_modified)
        queue.finish();
}

void ScriptBatch::add_file(const std::string& path, const std::string& shown, JobQueue& queue) {
    wait_if_handed_out(path, queue);
    queue.add([this, path, shown] {
        compile_file(path, shown);
        advance();
    });
}

void ScriptBatch::compile_directory(const std::string& directory, JobQueue& queue) {
    walk_sources(VirtualFileSystem::instance(), directory, ".ksf", [&](const std::string& path) {
        wait_if_handed_out(path, queue);
        queue.add([this, path] {
            try {
                compile_file(path);
            } catch (const TrovexError&) {
                throw;  // printed already: break-on-error ends the command
            } catch (const std::runtime_error& error) {
                if (!report_all_) {
                    error_stream << error.what() << std::endl;
                } else {
                    collected_.add_on_release(error.what());
                }
            }
            advance();
        });
    });
}

void ScriptBatch::advance() {
    if (progress_ != nullptr)
        progress_->advance(1, 0);
}

}  // namespace kam::script
