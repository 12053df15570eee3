// Merging load logs: one order of files that every log reads with few jumps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "utility/id_string.h"

namespace kam {

// Source logs in command-line order, each its paths in file order, duplicates kept.
using LoadLogs = std::vector<std::vector<IdString>>;

// The neighbour seen most often before and after a path over all logs (the larger id of equally
// frequent ones); 0 stands for the start and the end of a log.
struct Neighbours {
    IdString predecessor = 0;
    IdString successor = 0;
};

// Indexed by id, up to the largest id the logs hold; ids they lack get (0, 0).
std::vector<Neighbours> best_neighbours(const LoadLogs& logs);

// The log with the most paths, the later of equals; 0 without logs.
std::size_t largest_log(const LoadLogs& logs);

// Builds an ordering of the logs' distinct paths: one log's paths first, then every other path
// put beside its best neighbours. fill and insert take logs given to the constructor.
class OrderingBuilder {
public:
    explicit OrderingBuilder(const LoadLogs& logs);

    // Appends the paths not placed yet, in the log's order.
    void fill(const std::vector<IdString>& log);
    // Places each path not placed yet, in the log's order: into the first gap between its best
    // predecessor and best successor, else into the last gap beside one of them, else at the end.
    void insert(const std::vector<IdString>& log);

    std::vector<IdString> ordering() const;

private:
    // The gap after node u (after head_: the first gap) and how many neighbours of the path match
    // its sides.
    std::int32_t matches(std::int32_t u, Neighbours neighbours) const;
    void place_after(std::int32_t u, IdString path);
    void relabel();
    std::uint64_t gap_key(std::int32_t u) const { return u == head_ ? 0 : label_[u]; }

    std::vector<Neighbours> neighbours_;
    // A circular list over ids; head_ (one past the largest id) marks both its ends.
    std::int32_t head_;
    std::vector<std::int32_t> next_;
    std::vector<std::int32_t> previous_;
    // Increasing along the list, so two places compare without counting positions.
    std::vector<std::uint64_t> label_;
    std::vector<bool> placed_;
    std::size_t size_ = 0;
};

// Scores orderings of one set of logs. A log's value is the sum, in single precision and in log
// order, of |position - expected| (expected: one past the previous path's position, 0 at first)
// divided by its number of paths; the score is the largest value of a log with paths, else 0.
class LogScorer {
public:
    explicit LogScorer(const LoadLogs& logs);

    // positions: the index of every path of the logs in the ordering, by id.
    float score(const std::vector<std::int32_t>& positions) const;

private:
    struct Span {
        std::size_t first;
        std::size_t count;
    };

    std::vector<IdString> entries_;  // the logs' paths back to back
    std::vector<Span> logs_;         // logs with paths, the longest first
};

// The ordering of the plain merge: the largest log, then the paths of the others in their order.
// Empty without logs.
std::vector<IdString> build_ordering(const LoadLogs& logs);

// The merge score of an ordering holding every path of the logs.
float merge_score(const LoadLogs& logs, const std::vector<IdString>& ordering);

// The random search: candidates made by ten random moves from the best ordering, kept when they
// score strictly lower. The random sequence starts afresh with each search, so the same logs and
// ordering give the same candidates in the same order.
class OrderingSearch {
public:
    // Scores the ordering, which must hold every path of the logs once. The logs must outlive the
    // search.
    OrderingSearch(const LoadLogs& logs, std::vector<IdString> ordering);

    // Tries one candidate; true when it became the best.
    bool attempt();

    float best_score() const { return best_score_; }
    const std::vector<IdString>& best_ordering() const { return best_; }

private:
    std::int32_t random();
    // Moves b to just after a in the candidate.
    void move_after(IdString a, IdString b);

    const LoadLogs& logs_;
    LogScorer scorer_;
    std::vector<IdString> best_;
    float best_score_;
    std::vector<IdString> candidate_;
    std::vector<std::int32_t> positions_;  // in the candidate, by id
    // Indexes where the candidate may differ from the best; empty when first > last.
    std::size_t changed_first_;
    std::size_t changed_last_;
    std::uint32_t state_ = 1;
};

// The search budget given with -g: the value's leading decimal integer (blanks and a sign may
// come first), clamped to the range of a signed 32-bit integer; nothing when there is none.
std::optional<std::int32_t> search_seconds(std::string_view value);

// Writes one merged-form line per path (tab, open element, CR LF). The file is replaced only once
// completely written; throws the store's DiskError when it cannot be written.
void write_merged_log(const std::string& name, const std::vector<IdString>& ordering);

// Reads the source logs, builds their ordering, searches for search_seconds when given, and
// writes the merged log, with progress on log_verbose and search progress on log_detail. Throws
// the reading and writing errors, and when the merged log is one of the sources; nothing is
// written before every log was read.
void merge_load_logs(const std::string& merged_log, const std::vector<std::string>& source_logs,
                     std::optional<std::int32_t> search_seconds);

}  // namespace kam
