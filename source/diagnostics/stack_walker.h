// Call stacks as text, one line per frame: "parser.cpp(120) : kam::script::Parser::parse".
#pragma once

#include <cstddef>
#include <cstdint>

namespace kam {

// Walks the calling thread's stack and formats its frames. The text is kept in a buffer of fixed
// size inside the object and nothing is taken from the heap, so that a crash handler can use it.
class StackWalker {
public:
    // Frames beyond this many are left out; a runaway recursion would fill pages.
    static constexpr int max_frames = 100;

    StackWalker() = default;
    virtual ~StackWalker() = default;
    StackWalker(const StackWalker&) = delete;
    StackWalker& operator=(const StackWalker&) = delete;

    // Walks from the function that calls this one.
    void show_callstack();
    // Walks from the frame that runs at start_address (a faulting instruction), leaving out the
    // frames above it (the handler's own). With skip_start_module, frames inside the module of
    // start_address come off first: the runtime library that delivers a signal the code asked for.
    void show_callstack(std::uintptr_t start_address, bool skip_start_module);

    // Everything written so far; each line ends with a line break.
    const char* text() const { return text_; }
    void clear();

protected:
    struct Frame {
        std::uintptr_t address = 0;
        const char* file = nullptr;      // with directories; null when unknown
        int line = 0;                    // 0 when unknown
        const char* function = nullptr;  // null when unknown
        const char* module = nullptr;    // the program or library, when there is no file
    };

    // Formats one frame as file name + "(" + line + ")" + " : " + function, with "???" for what
    // is unknown, and hands the line to on_output.
    virtual void on_callstack_entry(const Frame& frame);
    // A walk that cannot go on; the text is reported as a line of its own.
    virtual void on_db_error(const char* text);
    // Receives each finished line; the default appends it to text().
    virtual void on_output(const char* text);

private:
    void walk(std::uintptr_t start_address, bool skip_start_module);
    void describe(std::uintptr_t address);

    static constexpr std::size_t text_capacity = 32 * 1024;
    char text_[text_capacity] = {};
    std::size_t size_ = 0;
};

}  // namespace kam
