// Compiling script files and directory trees of them, as compile-scripts does.
#pragma once

#include <string>
#include <unordered_set>

#include "utility/job_queue.h"
#include "utility/progress.h"
#include "utility/source_walk.h"

namespace kam {
class DiskFileSystem;
}

namespace kam::script {

class ScriptBatch {
public:
    // The load mode of the flags: 4, 3 when stripped; with only_if_modified 2, 1 when stripped.
    static int mode_for(bool strip, bool only_if_modified);
    // The errors of walked files under report-all.
    CollectedErrors& collected_errors() { return collected_; }

    // Each file compiled advances progress, when given.
    ScriptBatch(int mode, bool report_all, Progress* progress = nullptr)
        : mode_(mode), report_all_(report_all), progress_(progress) {}

    // From now on each compiled file gets a dependency file NAME.kxe.d naming its source (a
    // compile reads no other file), the paths spelled as on the disk where the sources lie; a
    // compiled file kept as up to date gets one when it has none.
    void write_depfiles(const DiskFileSystem& disk) { depfile_disk_ = &disk; }

    // Compiles one source (a path through the virtual file system, extension ".ksf"). "Compiling "
    // + shown goes to the verbose log when the compiled file is not up to date. Failures throw.
    void compile_file(const std::string& path, const std::string& shown);
    void compile_file(const std::string& path) { compile_file(path, path); }
    // compile_file as a job of the queue; the batch outlives the queue's jobs. A file handed out
    // before waits for the jobs before it when compiled files are kept if up to date: the earlier
    // job may write it, and a sequential run would then find it up to date.
    void add_file(const std::string& path, const std::string& shown, JobQueue& queue);
    // Compiles every file named exactly *.ksf in the directory, then its subdirectories, each as
    // a job of the queue with its own error handler: a failure is written to the error stream, or
    // with report-all added to the collected errors, and the walk goes on. The batch outlives the
    // queue's jobs.
    void compile_directory(const std::string& directory, JobQueue& queue);

private:
    int mode_;
    bool report_all_;
    Progress* progress_;
    CollectedErrors collected_;
    void advance();
    const DiskFileSystem* depfile_disk_ = nullptr;
    void wait_if_handed_out(const std::string& path, JobQueue& queue);

    // The canonical paths of the files handed out as jobs; walked on the queue's thread.
    std::unordered_set<std::string> handed_out_;
};

}  // namespace kam::script
