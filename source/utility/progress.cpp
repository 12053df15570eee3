// The progress line: counts, rate and time left, redrawn in place with carriage returns.
#include "utility/progress.h"

#include <cstdio>
#include <utility>

#include "utility/platform/clock.h"
#include "utility/platform/console.h"

namespace kam {

namespace {

// Redrawing more often only costs terminal time: nobody reads faster than this.
constexpr double redraw_interval = 0.1;

// "1.5 MiB", or "512 B" below one KiB.
std::string size_text(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%.0f %s", bytes, units[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    }
    return text;
}

// "1:05" or "2:03:04".
std::string duration_text(double seconds) {
    const auto whole = static_cast<std::uint64_t>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u",
                      static_cast<unsigned long long>(whole / 3600),
                      static_cast<unsigned>(whole / 60 % 60), static_cast<unsigned>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(whole / 60),
                      static_cast<unsigned>(whole % 60));
    }
    return text;
}

double monotonic_seconds() {
    return static_cast<double>(platform::clock_ticks()) /
           static_cast<double>(platform::clock_frequency());
}

}  // namespace

Progress::Progress(bool terminal, bool verbose, Sink sink, Clock clock)
    : shown_(terminal && !verbose),
      sink_(sink ? std::move(sink) : Sink(platform::write_standard_error)),
      clock_(clock ? std::move(clock) : Clock(monotonic_seconds)) {
    if (shown_) {
        streams_ = &current_streams();
        streams_->status_line = this;
    }
}

Progress::Progress(std::uint64_t total_files, std::uint64_t total_bytes, bool terminal,
                   bool verbose, Sink sink, Clock clock)
    : Progress(terminal, verbose, std::move(sink), std::move(clock)) {
    start(total_files, total_bytes);
}

Progress::~Progress() {
    finish();
    if (streams_ != nullptr)
        streams_->status_line = nullptr;
}

void Progress::start(std::uint64_t total_files, std::uint64_t total_bytes) {
    if (!shown_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = true;
    total_files_ = total_files;
    total_bytes_ = total_bytes;
    files_ = 0;
    bytes_ = 0;
    drawn_ = false;
    start_ = clock_();
}

void Progress::advance(std::uint64_t files, std::uint64_t bytes) {
    if (!shown_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!active_)
        return;
    files_ += files;
    bytes_ += bytes;
    const double now = clock_();
    if (!hidden_ && (!drawn_ || now - last_draw_ >= redraw_interval))
        draw(now);
}

void Progress::finish() {
    if (!shown_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    clear();
    active_ = false;
}

void Progress::hide() {
    std::lock_guard<std::mutex> lock(mutex_);
    clear();
    hidden_ = true;
}

void Progress::show() {
    std::lock_guard<std::mutex> lock(mutex_);
    hidden_ = false;
    if (active_ && drawn_)
        draw(clock_());
}

std::string Progress::text(std::uint64_t files, std::uint64_t total_files, std::uint64_t bytes,
                           std::uint64_t total_bytes, double seconds) {
    std::string line = std::to_string(files) + "/" + std::to_string(total_files) + " files";
    const bool counts_bytes = total_bytes != 0;
    // The time left goes by bytes where their total is known, else by files.
    const bool left_by_bytes = counts_bytes && total_bytes != unknown_bytes;
    if (counts_bytes)
        line += ", " + size_text(static_cast<double>(bytes));
    if (left_by_bytes)
        line += " of " + size_text(static_cast<double>(total_bytes));
    const std::uint64_t done = left_by_bytes ? bytes : files;
    const std::uint64_t total = left_by_bytes ? total_bytes : total_files;
    // No rate until a measurable time has passed: the first files' rate means nothing.
    if (seconds < redraw_interval || done == 0 || (counts_bytes && bytes == 0))
        return line;
    if (counts_bytes) {
        line += ", " + size_text(static_cast<double>(bytes) / seconds) + "/s";
    } else {
        // Tenths only where they tell something.
        const double rate = static_cast<double>(files) / seconds;
        char text[32];
        std::snprintf(text, sizeof text, rate < 10 ? ", %.1f files/s" : ", %.0f files/s", rate);
        line += text;
    }
    if (total >= done) {
        const double left = static_cast<double>(total - done) * seconds / static_cast<double>(done);
        line += ", " + duration_text(left) + " left";
    }
    return line;
}

void Progress::clear() {
    if (width_ > 0)
        sink_("\r" + std::string(width_, ' ') + "\r");
    width_ = 0;
}

void Progress::draw(double now) {
    drawn_ = true;
    last_draw_ = now;
    const std::string line = text(files_, total_files_, bytes_, total_bytes_, now - start_);
    // Spaces cover what is left of a longer line before.
    const std::size_t pad = width_ > line.size() ? width_ - line.size() : 0;
    sink_("\r" + line + std::string(pad, ' '));
    width_ = line.size() + pad;
}

Progress standard_error_progress(int verbosity) {
    return Progress(platform::standard_error_is_terminal(), verbosity > 0);
}

}  // namespace kam
