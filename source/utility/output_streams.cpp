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

int verbosity() { return CommandLine::current != nullptr ? CommandLine::current->verbosity : 0; }

}  // namespace

ErrorStream error_stream;
LogStream log_always(0);
LogStream log_verbose(1);
LogStream log_detail(2);

int ErrorBuffer::sync() {
    const std::string text = str();
    std::cout << dash_line << '\n' << std::flush;
    std::cout << "ERROR: " << text;
    std::cout << dash_line << '\n' << std::flush;
    ++reported_;
    // Under break-on-error the buffer keeps its text: the throw ends the command anyway.
    if (break_on_error()) throw TrovexError(text);
    str(std::string());
    return 0;
}

ErrorStream::ErrorStream() : std::ostream(&buffer_) {
    // Built before main: from here on every message reaches standard output as written.
    kam::platform::use_plain_standard_output();
    // Let the break-on-error throw escape the flush instead of being swallowed as a bad state.
    exceptions(std::ios::badbit);
}

void ErrorStream::reset() {
    clear();
    buffer_.str(std::string());
}

int LogBuffer::sync() {
    // Verbosity is read at flush time, so flags parsed after a write still count.
    if (verbosity() >= level_) std::cout << str() << std::flush;
    str(std::string());
    return 0;
}

bool LogBuffer::shown() const { return verbosity() >= level_; }

LogStream::LogStream(int level) : std::ostream(&buffer_), buffer_(level) {}

void print_framed_error(const std::string& text) {
    std::cout << dash_line << '\n' << std::flush;
    std::cout << "ERROR: " << text << '\n' << std::flush;
    std::cout << dash_line << '\n' << std::flush;
}
