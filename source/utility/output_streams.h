// The error stream and the three log streams every subsystem writes its messages to.
#pragma once

#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>

// Thrown by a flush of error_stream under break-on-error; carries the message that was printed.
class TrovexError : public std::runtime_error {
public:
    explicit TrovexError(const std::string& message) : std::runtime_error(message) {}
};

// What a job printed, held to be released in the order of the jobs.
struct HeldOutput {
    std::string text;
    int errors = 0;  // errors among the text
};

// Makes the streams of the calling thread write into held instead of standard output (nullptr:
// standard output again).
void hold_output(HeldOutput* held);
// Prints held text on standard output and counts its errors as the calling thread's.
void release_output(const HeldOutput& held);

// Collects one message; a flush prints it framed as an error.
class ErrorBuffer : public std::stringbuf {
public:
    int reported() const { return reported_; }
    void add_reported(int count) { reported_ += count; }

protected:
    int sync() override;

private:
    int reported_ = 0;
};

class ErrorStream : public std::ostream {
public:
    ErrorStream();
    ErrorBuffer* buffer() { return &buffer_; }
    // After a break-on-error throw: clears the stream state and the message left in the buffer.
    void reset();
    // How many errors were printed so far: a run that printed one does not end in success.
    int errors_reported() const { return buffer_.reported(); }

private:
    ErrorBuffer buffer_;
};

// Collects one message; a flush prints it when the run's verbosity reaches the level.
class LogBuffer : public std::stringbuf {
public:
    explicit LogBuffer(int level) : level_(level) {}
    // Whether a message flushed now would be printed.
    bool shown() const;

protected:
    int sync() override;

private:
    int level_;
};

class LogStream : public std::ostream {
public:
    explicit LogStream(int level);
    LogBuffer* buffer() { return &buffer_; }
    bool shown() const { return buffer_.shown(); }

private:
    LogBuffer buffer_;
};

// One set per thread, so that concurrent jobs never share a message being written.
extern thread_local ErrorStream error_stream;
extern thread_local LogStream log_always;
extern thread_local LogStream log_verbose;
extern thread_local LogStream log_detail;

// Prints "ERROR: " + text between two lines of 70 dashes, straight to standard output; never throws.
void print_framed_error(const std::string& text);
