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

// A line kept below the output on a terminal (the progress line): the streams take it away before
// they print, so that no message is written into it, and put it back after.
class StatusLine {
public:
    virtual void hide() = 0;
    virtual void show() = 0;

protected:
    ~StatusLine() = default;
};

// The streams of one thread: the process's set serves the main thread; a job's worker thread has
// its own, so that concurrent jobs never share a message being written.
struct StreamSet {
    ErrorStream error;
    LogStream always{0};
    LogStream verbose{1};
    LogStream detail{2};
    // The thread's status line, if one is shown; only a thread that prints needs one.
    StatusLine* status_line = nullptr;
};

// Makes set the calling thread's streams (nullptr: the process's set again).
void use_streams(StreamSet* set);
StreamSet& current_streams();

// Names one stream of the calling thread's set. (Stream objects cannot be thread_local: the
// Windows runtime crashes constructing them.)
template <class Stream>
class CurrentStream {
public:
    explicit constexpr CurrentStream(Stream StreamSet::*member) : member_(member) {}

    Stream& get() const { return current_streams().*member_; }
    operator std::ostream&() const { return get(); }
    template <class T>
    std::ostream& operator<<(const T& value) const {
        return get() << value;
    }
    std::ostream& operator<<(std::ostream& (*manipulator)(std::ostream&)) const {
        return get() << manipulator;
    }
    std::ostream& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) const {
        return get() << manipulator;
    }

    auto buffer() const { return get().buffer(); }
    void reset() const { get().reset(); }
    int errors_reported() const { return get().errors_reported(); }
    bool shown() const { return get().shown(); }

private:
    Stream StreamSet::*member_;
};

inline constexpr CurrentStream<ErrorStream> error_stream{&StreamSet::error};
inline constexpr CurrentStream<LogStream> log_always{&StreamSet::always};
inline constexpr CurrentStream<LogStream> log_verbose{&StreamSet::verbose};
inline constexpr CurrentStream<LogStream> log_detail{&StreamSet::detail};

// Prints "ERROR: " + text between two lines of 70 dashes, straight to standard output; never
// throws.
void print_framed_error(const std::string& text);
