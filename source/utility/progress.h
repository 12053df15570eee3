// A line on standard error that shows how far a long run has come.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "utility/output_streams.h"

namespace kam {

class Progress : public StatusLine {
public:
    // Seconds on a monotonic clock.
    using Clock = std::function<double()>;
    // Receives the bytes to write, carriage returns included.
    using Sink = std::function<void(std::string_view)>;

    // The line is shown only when terminal is true and verbose is false: on a terminal it would
    // tear the lines that -v prints, and elsewhere it would fill a log with carriage returns.
    // Without a sink it writes to standard error; without a clock it reads the monotonic one.
    // While shown, it is the status line of the calling thread's streams, which print around it.
    Progress(bool terminal, bool verbose, Sink sink = {}, Clock clock = {});
    // Shown at once, as after start with the totals.
    Progress(std::uint64_t total_files, std::uint64_t total_bytes, bool terminal, bool verbose,
             Sink sink = {}, Clock clock = {});
    // Clears the line, as finish does.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // For start: bytes are counted, but their total is not known before the end.
    static constexpr std::uint64_t unknown_bytes = ~std::uint64_t{0};

    bool shown() const { return shown_; }
    // Begins the line of a piece of work of the totals (without bytes, the line counts files
    // only; with unknown_bytes, the time left goes by files): the counts and the clock start
    // again.
    void start(std::uint64_t total_files, std::uint64_t total_bytes);
    // Counts work done (from any thread) and redraws the line, at most ten times a second.
    void advance(std::uint64_t files, std::uint64_t bytes);
    // Clears the line; advance does nothing until the next start.
    void finish();

    void hide() override;
    void show() override;

    // The line's text: "3/10 files, 1.5 MiB of 4.0 MiB, 750.0 KiB/s, 0:04 left"; with unknown
    // total bytes "3/10 files, 1.5 MiB, 750.0 KiB/s, 0:05 left"; without bytes "3/10 files,
    // 1.5 files/s, 0:05 left". No rate and time left before a tenth of a second has passed or
    // while nothing is done.
    static std::string text(std::uint64_t files, std::uint64_t total_files, std::uint64_t bytes,
                            std::uint64_t total_bytes, double seconds);

private:
    void draw(double now);
    void clear();

    bool shown_;
    Sink sink_;
    Clock clock_;
    StreamSet* streams_ = nullptr;
    std::mutex mutex_;
    bool active_ = false;  // between start and finish
    bool hidden_ = false;  // while the streams print
    std::uint64_t total_files_ = 0;
    std::uint64_t total_bytes_ = 0;
    double start_ = 0;
    double last_draw_ = 0;
    bool drawn_ = false;
    std::size_t width_ = 0;  // of the line on screen, to be overwritten or cleared with spaces
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
};

// The progress line of a command on standard error: shown when that is a terminal and the
// verbosity (-v) is 0.
Progress standard_error_progress(int verbosity);

}  // namespace kam
