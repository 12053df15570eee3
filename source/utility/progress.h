// A line on standard error that shows how far a long run has come.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace kam {

class Progress {
public:
    // Seconds on a monotonic clock.
    using Clock = std::function<double()>;
    // Receives the bytes to write, carriage returns included.
    using Sink = std::function<void(std::string_view)>;

    // The line is shown only when terminal is true and verbose is false: on a terminal it would
    // tear the lines that -v prints, and elsewhere it would fill a log with carriage returns.
    // Without a sink it writes to standard error; without a clock it reads the monotonic one.
    Progress(std::uint64_t total_files, std::uint64_t total_bytes, bool terminal, bool verbose,
             Sink sink = {}, Clock clock = {});
    // Clears the line, as finish does.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Counts work done (from any thread) and redraws the line, at most ten times a second.
    void advance(std::uint64_t files, std::uint64_t bytes);
    // Clears the line; later calls do nothing.
    void finish();

    // The line's text: "3/10 files, 1.5 MiB of 4.0 MiB, 750.0 KiB/s, 0:04 left"; no rate
    // and time left before a tenth of a second has passed or while no bytes are done.
    static std::string text(std::uint64_t files, std::uint64_t total_files, std::uint64_t bytes,
                            std::uint64_t total_bytes, double seconds);

private:
    void draw(double now);

    std::uint64_t total_files_;
    std::uint64_t total_bytes_;
    bool shown_;
    Sink sink_;
    Clock clock_;
    std::mutex mutex_;
    double start_ = 0;
    double last_draw_ = 0;
    bool drawn_ = false;
    std::size_t width_ = 0;  // of the line on screen, to be overwritten or cleared with spaces
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
};

}  // namespace kam
