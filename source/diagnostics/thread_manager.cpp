// The crash handler. The report is built in fixed buffers and claimed by one thread at a time;
// a fault inside the report or a report that takes too long falls back to a plain write of what
// was gathered, so that the process always ends and says why.
#include "diagnostics/thread_manager.h"

#include <cstring>
#include <iterator>

#include "diagnostics/stack_walker.h"
#include "utility/platform/alternate_stack.h"
#include "utility/platform/threads.h"

namespace kam {

namespace {

struct FaultName {
    std::uint32_t code;
    const char* text;
};

const FaultName fault_names[] = {
    {platform::access_violation, "access violation"},
    {platform::array_bounds_exceeded, "out of array bounds"},
    {platform::breakpoint, "breakpoint"},
    {platform::datatype_misalignment, "data misalignment"},
    {platform::float_denormal_operand, "denormal floating point operation"},
    {platform::float_divide_by_zero, "divide by zero (float)"},
    {platform::float_inexact_result, "inexact floating point operation"},
    {platform::float_invalid_operation, "invalid operation"},
    {platform::float_overflow, "floating point overflow"},
    {platform::float_stack_check, "floating point stack overflow/underflow"},
    {platform::float_underflow, "floating point underflow"},
    {platform::illegal_instruction, "illegal instruction"},
    {platform::in_page_error, "page load error"},
    {platform::integer_divide_by_zero, "divide by zero (integer)"},
    {platform::integer_overflow, "integer overflow"},
    {platform::invalid_disposition, "invalid disposition"},
    {platform::noncontinuable_exception, "noncontinuable exception"},
    {platform::privileged_instruction, "privileged instruction"},
    {platform::single_step, "single step"},
    {platform::stack_overflow, "stack overflow"},
};

// The report's name for an exception code, null when the code has none.
const char* fault_name(std::uint32_t code) {
    for (const FaultName& row : fault_names) {
        if (row.code == code)
            return row.text;
    }
    return nullptr;
}

const char* const unknown_thread = "Unknown thread";
constexpr int crash_exit_code = 1;
// Reading the debug information of a large program takes a second or two.
constexpr unsigned report_time_limit_seconds = 30;

std::atomic<ThreadManager*> current_manager{nullptr};
// The thread that is reporting, 0 while none is.
std::atomic<std::uint64_t> reporting_thread{0};
// The message, kept where the fallback can find it.
char report_message[256];
std::atomic<const char*> report_call_stack{nullptr};

void copy_text(char* target, std::size_t capacity, const char* text) {
    std::size_t length = std::strlen(text);
    if (length >= capacity)
        length = capacity - 1;
    std::memcpy(target, text, length);
    target[length] = '\0';
}

void write_text(const char* text) {
    platform::write_standard_output(text, std::strlen(text));
}

// The report's last resort: the same frame the front end prints, written without streams.
[[noreturn]] void write_report_and_end() {
    const char dashes[] =
        "----------------------------------------------------------------------\n";
    write_text(dashes);
    write_text("ERROR: ");
    write_text(report_message);
    // The message and every line of the stack end with a line break.
    if (const char* call_stack = report_call_stack.load())
        write_text(call_stack);
    write_text(dashes);
    platform::end_process(crash_exit_code);
}

void on_fault(const platform::Fault& fault) {
    if (ThreadManager* manager = current_manager.load())
        manager->unhandled_exception(fault);
    // The manager is being destroyed; the default handling takes over.
}

}  // namespace

ThreadManager::ThreadManager(const std::string& main_thread_name, ErrorCallback callback)
    : main_thread_id_(platform::current_thread_id()),
      main_thread_name_(main_thread_name),
      callback_(callback),
      walker_(std::make_unique<StackWalker>()) {
    ThreadRecord& main = threads_[0];
    copy_text(main.name, sizeof main.name, main_thread_name.c_str());
    main.alternate_stack = platform::install_alternate_stack();
    main.id.store(main_thread_id_, std::memory_order_release);
    current_manager.store(this);
    platform::install_fault_handler(on_fault);
}

ThreadManager::~ThreadManager() {
    platform::remove_fault_handler();
    ThreadManager* self = this;
    current_manager.compare_exchange_strong(self, nullptr);
    // Threads still registered keep their alternate stacks: only they could take them out of use.
    if (platform::current_thread_id() == main_thread_id_) {
        platform::remove_alternate_stack(threads_[0].alternate_stack);
    }
}

ThreadManager* ThreadManager::instance() {
    return current_manager.load();
}

void ThreadManager::register_thread(const std::string& name) {
    const std::uint64_t self = platform::current_thread_id();
    std::lock_guard lock(mutex_);
    ThreadRecord* free_record = nullptr;
    for (ThreadRecord& record : threads_) {
        const std::uint64_t id = record.id.load(std::memory_order_relaxed);
        if (id == self) {
            // Renamed: hidden while the name changes.
            record.id.store(0, std::memory_order_release);
            copy_text(record.name, sizeof record.name, name.c_str());
            record.id.store(self, std::memory_order_release);
            return;
        }
        if (id == 0 && free_record == nullptr)
            free_record = &record;
    }
    // Past max_threads a thread goes unnamed.
    if (free_record == nullptr)
        return;
    copy_text(free_record->name, sizeof free_record->name, name.c_str());
    free_record->alternate_stack = platform::install_alternate_stack();
    free_record->id.store(self, std::memory_order_release);
}

void ThreadManager::unregister_thread() {
    const std::uint64_t self = platform::current_thread_id();
    if (self == main_thread_id_)
        return;
    std::lock_guard lock(mutex_);
    for (ThreadRecord& record : threads_) {
        if (record.id.load(std::memory_order_relaxed) != self)
            continue;
        record.id.store(0, std::memory_order_release);
        platform::remove_alternate_stack(record.alternate_stack);
        record.alternate_stack = nullptr;
    }
}

std::string ThreadManager::thread_name() const {
    return name_of(platform::current_thread_id());
}

const char* ThreadManager::name_of(std::uint64_t thread_id) const {
    for (const ThreadRecord& record : threads_) {
        if (record.id.load(std::memory_order_acquire) == thread_id)
            return record.name;
    }
    return unknown_thread;
}

void ThreadManager::unhandled_exception(const platform::Fault& fault) {
    const std::uint64_t self = platform::current_thread_id();
    std::uint64_t reporter = 0;
    if (!reporting_thread.compare_exchange_strong(reporter, self)) {
        // A fault inside the report gives up on it; a fault on another thread waits for the
        // report that is under way, which ends the process.
        if (reporter == self)
            write_report_and_end();
        platform::wait_forever();
    }
    platform::start_watchdog(report_time_limit_seconds, write_report_and_end);

    // The critical section of the report is the claim above; mutex_ may be held by the thread
    // that faulted.
    char name_text[16];
    const char* name = fault_name(fault.code);
    if (name == nullptr) {
        char* end = name_text + sizeof name_text - 1;
        *end = '\0';
        std::uint32_t value = fault.code;
        do {
            *--end = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        name = end;
    }
    copy_text(report_message, sizeof report_message, "Unhandled exception - ");
    std::strncat(report_message, name, sizeof report_message - std::strlen(report_message) - 3);
    std::strcat(report_message, "\n\n");

    walker_->clear();
    report_call_stack.store(walker_->text());
    walker_->show_callstack(fault.program_counter, fault.raised_by_process);

    if (callback_ != nullptr) {
        try {
            callback_(report_message, walker_->text(), name_of(self));
        } catch (...) {
            write_report_and_end();
        }
    }
    platform::end_process(crash_exit_code);
}

}  // namespace kam
