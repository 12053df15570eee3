// The progress line: its text, how often it is redrawn, and where it appears at all.
#include "utility/progress.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "utility/job_queue.h"
#include "utility/output_streams.h"

namespace {

constexpr std::uint64_t kib = 1024;
constexpr std::uint64_t mib = 1024 * kib;

TEST(ProgressTest, TextShowsCountsRateAndTimeLeft) {
    struct Case {
        std::uint64_t files, total_files, bytes, total_bytes;
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, 10, 0, 4 * mib, 0, "0/10 files, 0 B of 4.0 MiB"},
        {1, 10, 512, 4 * mib, 0.05, "1/10 files, 512 B of 4.0 MiB"},
        {3, 10, 3 * mib / 2, 4 * mib, 2, "3/10 files, 1.5 MiB of 4.0 MiB, 768.0 KiB/s, 0:03 left"},
        {1, 2, kib, 3601 * kib, 1, "1/2 files, 1.0 KiB of 3.5 MiB, 1.0 KiB/s, 1:00:00 left"},
        {1, 2, kib, 3600 * kib, 1, "1/2 files, 1.0 KiB of 3.5 MiB, 1.0 KiB/s, 59:59 left"},
        {2, 2, 5 * kib, 5 * kib, 10, "2/2 files, 5.0 KiB of 5.0 KiB, 512 B/s, 0:00 left"},
        {3, 10, 0, 0, 2, "3/10 files, 1.5 files/s, 0:05 left"},
        {5, 20, 3 * mib, kam::Progress::unknown_bytes, 2,
         "5/20 files, 3.0 MiB, 1.5 MiB/s, 0:06 left"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kam::Progress::text(c.files, c.total_files, c.bytes, c.total_bytes, c.seconds),
                  c.text);
    }
}

TEST(ProgressTest, RedrawsAtMostTenTimesASecondAndClearsAtTheEnd) {
    double now = 5;
    std::string written;
    {
        kam::Progress progress(
            3, 3 * kib, true, false, [&](std::string_view text) { written += text; },
            [&] { return now; });
        progress.advance(1, kib);
        now = 5.05;
        progress.advance(1, kib);
        now = 5.5;
        progress.advance(1, kib);
    }
    const std::string first = "1/3 files, 1.0 KiB of 3.0 KiB";
    const std::string last = "3/3 files, 3.0 KiB of 3.0 KiB, 6.0 KiB/s, 0:00 left";
    EXPECT_EQ(written, "\r" + first + "\r" + last + "\r" + std::string(last.size(), ' ') + "\r");
}

// A message printed while the line is shown, straight or released by a job, goes between a
// clearing and a redraw: never into the line.
TEST(ProgressTest, MessagesTakeTheLineAwayAndPutItBack) {
    for (const int jobs : {1, 2}) {
        std::ostringstream screen;
        std::streambuf* const saved = std::cout.rdbuf(screen.rdbuf());
        {
            kam::Progress progress(
                2, 2 * kib, true, false, [&](std::string_view text) { screen << text; },
                [] { return 0.0; });
            progress.advance(1, kib);
            kam::JobQueue queue(jobs);
            queue.add([] { log_always << "note" << std::endl; });
            queue.finish();
        }
        std::cout.rdbuf(saved);
        const std::string line = "\r1/2 files, 1.0 KiB of 2.0 KiB";
        const std::string clear = "\r" + std::string(line.size() - 1, ' ') + "\r";
        EXPECT_EQ(screen.str(), line + clear + "note\n" + line + clear) << jobs << " jobs";
    }
}

}  // namespace
