// Files replaced in one step: written as a temporary, flushed, renamed over the destination.
#include "utility/replacing_file.h"

#include <memory>

#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"
#include "utility/platform/interrupts.h"

namespace kam {

namespace {

constexpr std::string_view temporary_mark = ".trovex-tmp";

// Interrupts delete a temporary that is still open; Windows allows that only when shared.
constexpr std::uint32_t temporary_share = platform::share_read | platform::share_delete;

}  // namespace

bool is_temporary_name(std::string_view name) {
    const size_t mark = name.rfind(temporary_mark);
    if (mark == std::string_view::npos || mark == 0)
        return false;
    const std::string_view number = name.substr(mark + temporary_mark.size());
    return !number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos;
}

ReplacingFile::ReplacingFile(const std::string& destination, Flush flush, bool as_spelled)
    : destination_(destination), flush_(flush), as_spelled_(as_spelled) {
    // Created exclusively: a stray file of the name is left alone, and the next number tried.
    // Registered before it is created, so that no interrupt comes between; a file of the name
    // left by a killed run may go with it.
    for (int attempt = 1;; ++attempt) {
        temporary_ = destination + std::string(temporary_mark) + std::to_string(attempt);
        handle_ = platform::create_temporary(temporary_, temporary_share, interrupt_slot_);
        if (handle_ != platform::invalid_file) {
            // An interrupt that removed the registered temporaries before this one existed.
            if (platform::interrupt_arrived()) {
                platform::close_file(handle_);
                platform::delete_file(temporary_);
                platform::wait_for_the_end();
            }
            break;
        }
        const std::uint32_t error = platform::last_error();
        // Another job's temporary of the same file may be renamed away before it can be seen.
        if (platform::already_exists(error))
            continue;
        platform::PathInfo info;
        if (platform::look_up(temporary_, info) != platform::LookupResult::found) {
            throw DiskError(FileDataStore::open_failure(destination, platform::create_new,
                                                        platform::generic_write, temporary_share),
                            error);
        }
    }
    std::shared_ptr<FileDataStore> store;
    try {
        store = std::make_shared<FileDataStore>(handle_, destination);
    } catch (...) {
        platform::close_file(handle_);
        platform::delete_file(temporary_);
        platform::unregister_temporary(interrupt_slot_);
        throw;
    }
    archive_.emplace(destination, std::move(store), 0, 0, true);
}

ReplacingFile::~ReplacingFile() {
    archive_.reset();
    if (!committed_)
        platform::delete_file(temporary_);
    platform::unregister_temporary(interrupt_slot_);
}

void ReplacingFile::close() {
    if (!archive_)
        return;
    if (flush_ == Flush::durable) {
        // The data must be on the device before the rename makes it the destination.
        const bool flushed = platform::flush_file(handle_);
        const std::uint32_t error = platform::last_error();
        if (!flushed)
            throw DiskError("Cannot flush " + destination_, error);
    }
    archive_.reset();
}

void ReplacingFile::commit() {
    close();
    const bool renamed = as_spelled_ ? platform::rename_file_as_spelled(temporary_, destination_)
                                     : platform::rename_file(temporary_, destination_);
    if (!renamed) {
        throw DiskError("Cannot replace " + destination_, platform::last_error());
    }
    committed_ = true;
}

bool ReplacingFile::commit_if_new() {
    close();
    committed_ = platform::rename_new_file(temporary_, destination_);
    return committed_;
}

UnnamedFile::UnnamedFile(const std::string& destination) : destination_(destination) {
    handle_ = platform::create_unnamed_file(destination);
    if (handle_ == platform::invalid_file)
        return;
    std::shared_ptr<FileDataStore> store;
    try {
        store = std::make_shared<FileDataStore>(handle_, destination);
    } catch (...) {
        platform::close_file(handle_);
        throw;
    }
    archive_.emplace(destination, std::move(store), 0, 0, true);
}

UnnamedFile::~UnnamedFile() {
    // Closing an unnamed file is all it takes to remove it.
    archive_.reset();
}

bool UnnamedFile::link() {
    const bool linked = platform::link_unnamed_file(handle_, destination_);
    const std::uint32_t error = platform::last_error();
    archive_.reset();
    if (!linked && !platform::already_exists(error))
        throw DiskError("Cannot create " + destination_, error);
    return linked;
}

}  // namespace kam
