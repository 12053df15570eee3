// The error stream and the three log streams.
#include "utility/output_streams.h"

#include <cstdio>
#include <iostream>

#include "utility/command_line.h"
#include "utility/platform/console.h"

namespace {

const std::string dash_line(70, '-');

bool break_on_error() {
    return CommandLine::current != nullptr && CommandLine::current->break_on_error;
}

int verbosity() {
    return CommandLine::current != nullptr ? CommandLine::current->verbosity : 0;
}

// Before main: from here on every message reaches standard output as written.
[[maybe_unused]] const bool plain_output = (kam::platform::use_plain_standard_output(), true);

thread_local HeldOutput* held_output = nullptr;

StreamSet process_streams;
thread_local StreamSet* thread_streams = nullptr;

void write_output(const std::string& text) {
    StatusLine* line = current_streams().status_line;
    if (line != nullptr)
        line->hide();
    std::cout << text << std::flush;
    if (line != nullptr)
        line->show();
}

void print(const std::string& text) {
    if (held_output != nullptr)
        held_output->text += text;
    else
        write_output(text);
}

}  // namespace

void use_streams(StreamSet* set) {
    thread_streams = set;
}

StreamSet& current_streams() {
    return thread_streams != nullptr ? *thread_streams : process_streams;
}

void hold_output(HeldOutput* held) {
    held_output = held;
}

void release_output(const HeldOutput& held) {
    if (!held.text.empty())
        write_output(held.text);
    error_stream.buffer()->add_reported(held.errors);
}

int ErrorBuffer::sync() {
    const std::string text = str();
    print(dash_line + '\n');
    print("ERROR: " + text + dash_line + '\n');
    if (held_output != nullptr)
        ++held_output->errors;
    else
        ++reported_;
    // Under break-on-error the buffer keeps its text: the throw ends the command anyway.
    if (break_on_error())
        throw TrovexError(text);
    str(std::string());
    return 0;
}

ErrorStream::ErrorStream() : std::ostream(&buffer_) {
    // Let the break-on-error throw escape the flush instead of being swallowed as a bad state.
    exceptions(std::ios::badbit);
}

void ErrorStream::reset() {
    clear();
    buffer_.str(std::string());
}

int LogBuffer::sync() {
    // Verbosity is read at flush time, so flags parsed after a write still count.
    if (verbosity() >= level_)
        print(str());
    str(std::string());
    return 0;
}

bool LogBuffer::shown() const {
    return verbosity() >= level_;
}

LogStream::LogStream(int level) : std::ostream(&buffer_), buffer_(level) {}

void print_framed_error(const std::string& text) {
    std::cout << dash_line << '\n' << std::flush;
    std::cout << "ERROR: " << text << '\n' << std::flush;
    std::cout << dash_line << '\n' << std::flush;
}
