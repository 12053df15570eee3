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

Progress::Progress(std::uint64_t total_files, std::uint64_t total_bytes, bool terminal,
                   bool verbose, Sink sink, Clock clock)
    : total_files_(total_files),
      total_bytes_(total_bytes),
      shown_(terminal && !verbose),
      sink_(sink ? std::move(sink) : Sink(platform::write_standard_error)),
      clock_(clock ? std::move(clock) : Clock(monotonic_seconds)) {
    if (shown_)
        start_ = clock_();
}

Progress::~Progress() {
    finish();
}

void Progress::advance(std::uint64_t files, std::uint64_t bytes) {
    if (!shown_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    files_ += files;
    bytes_ += bytes;
    const double now = clock_();
    if (!drawn_ || now - last_draw_ >= redraw_interval)
        draw(now);
}

void Progress::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shown_)
        return;
    shown_ = false;
    if (width_ > 0)
        sink_("\r" + std::string(width_, ' ') + "\r");
}

std::string Progress::text(std::uint64_t files, std::uint64_t total_files, std::uint64_t bytes,
                           std::uint64_t total_bytes, double seconds) {
    std::string line = std::to_string(files) + "/" + std::to_string(total_files) + " files, " +
                       size_text(static_cast<double>(bytes)) + " of " +
                       size_text(static_cast<double>(total_bytes));
    // No rate until a measurable time has passed: the first files' rate means nothing.
    if (seconds < redraw_interval || bytes == 0)
        return line;
    const double rate = static_cast<double>(bytes) / seconds;
    line += ", " + size_text(rate) + "/s";
    if (total_bytes >= bytes) {
        line += ", " + duration_text(static_cast<double>(total_bytes - bytes) / rate) + " left";
    }
    return line;
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

}  // namespace kam
