// Merging load logs. Every step gives exactly what the direct rules give (a scan of every gap per
// inserted path, every candidate scored through a fresh map of positions), found faster: gaps
// from where the neighbours stand, positions kept in an array between candidates.
#include "bundle/log_merger.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "bundle/load_log.h"
#include "utility/disk_utilities.h"
#include "utility/encoding.h"
#include "utility/output_streams.h"
#include "utility/platform/clock.h"
#include "utility/replacing_file.h"

namespace kam {

namespace {

// One more than the largest id in the logs.
std::size_t id_count(const LoadLogs& logs) {
    std::size_t count = 0;
    for (const auto& log : logs) {
        for (IdString path : log)
            count = std::max(count, static_cast<std::size_t>(path) + 1);
    }
    return count;
}

// The most frequent id of list[first, last), the larger of equally frequent ones; tally is all
// zero before and after.
IdString most_frequent(const std::vector<IdString>& list, std::size_t first, std::size_t last,
                       std::vector<std::size_t>& tally) {
    for (std::size_t i = first; i < last; ++i)
        ++tally[list[i]];
    IdString best = 0;
    std::size_t best_count = 0;
    for (std::size_t i = first; i < last; ++i) {
        const IdString id = list[i];
        if (tally[id] > best_count || (tally[id] == best_count && id > best)) {
            best = id;
            best_count = tally[id];
        }
    }
    for (std::size_t i = first; i < last; ++i)
        tally[list[i]] = 0;
    return best;
}

// One step of a log's sum, in the arithmetic of the rules: the position enters as a float.
inline void add_jump(std::int32_t position, float& expected, float& sum) {
    sum += std::fabs(position - expected);
    expected = static_cast<float>(position + 1);
}

double elapsed_seconds(std::uint64_t start) {
    return static_cast<double>(platform::clock_ticks() - start) /
           static_cast<double>(platform::clock_frequency());
}

}  // namespace

std::vector<Neighbours> best_neighbours(const LoadLogs& logs) {
    const std::size_t ids = id_count(logs);
    // Every occurrence of a path has one predecessor and one successor, so both lists of a path
    // take the same slots.
    std::vector<std::size_t> first(ids + 1, 0);
    for (const auto& log : logs) {
        for (IdString path : log)
            ++first[static_cast<std::size_t>(path) + 1];
    }
    for (std::size_t id = 0; id < ids; ++id)
        first[id + 1] += first[id];
    std::vector<IdString> before(first[ids]);
    std::vector<IdString> after(first[ids]);
    std::vector<std::size_t> next_slot(first.begin(), first.end() - 1);
    for (const auto& log : logs) {
        for (std::size_t i = 0; i < log.size(); ++i) {
            const std::size_t slot = next_slot[log[i]]++;
            before[slot] = i == 0 ? 0 : log[i - 1];
            after[slot] = i + 1 == log.size() ? 0 : log[i + 1];
        }
    }
    std::vector<Neighbours> best(ids);
    std::vector<std::size_t> tally(ids, 0);
    for (std::size_t id = 0; id < ids; ++id) {
        best[id].predecessor = most_frequent(before, first[id], first[id + 1], tally);
        best[id].successor = most_frequent(after, first[id], first[id + 1], tally);
    }
    return best;
}

std::size_t largest_log(const LoadLogs& logs) {
    std::size_t largest = 0;
    for (std::size_t i = 0; i < logs.size(); ++i) {
        if (logs[i].size() >= logs[largest].size())
            largest = i;
    }
    return largest;
}

// Labels are spread this far apart, so that about 32 paths fit into one gap before the list is
// labelled afresh.
constexpr std::uint64_t label_spacing = std::uint64_t{1} << 32;

OrderingBuilder::OrderingBuilder(const LoadLogs& logs)
    : neighbours_(best_neighbours(logs)),
      head_(static_cast<std::int32_t>(neighbours_.size())),
      next_(neighbours_.size() + 1, head_),
      previous_(neighbours_.size() + 1, head_),
      label_(neighbours_.size() + 1, 0),
      placed_(neighbours_.size(), false) {}

void OrderingBuilder::fill(const std::vector<IdString>& log) {
    for (IdString path : log) {
        if (!placed_[path])
            place_after(previous_[head_], path);
    }
}

void OrderingBuilder::insert(const std::vector<IdString>& log) {
    for (IdString path : log) {
        if (placed_[path])
            continue;
        const Neighbours neighbours = neighbours_[path];
        // The only gaps with a match: after the predecessor (or first, for the start) and before
        // the successor (or last, for the end). Id 0 can be both a path and the start or end.
        std::int32_t gaps[4];
        int count = 0;
        if (neighbours.predecessor == 0)
            gaps[count++] = head_;
        if (placed_[neighbours.predecessor])
            gaps[count++] = neighbours.predecessor;
        if (placed_[neighbours.successor])
            gaps[count++] = previous_[neighbours.successor];
        if (neighbours.successor == 0)
            gaps[count++] = previous_[head_];
        std::int32_t first_double = -1;
        std::int32_t last_single = -1;
        for (int i = 0; i < count; ++i) {
            const std::int32_t gap = gaps[i];
            if (matches(gap, neighbours) == 2) {
                if (first_double < 0 || gap_key(gap) < gap_key(first_double))
                    first_double = gap;
            } else if (last_single < 0 || gap_key(gap) > gap_key(last_single)) {
                last_single = gap;
            }
        }
        if (first_double >= 0) {
            place_after(first_double, path);
        } else if (last_single >= 0) {
            place_after(last_single, path);
        } else {
            place_after(previous_[head_], path);
        }
    }
}

std::vector<IdString> OrderingBuilder::ordering() const {
    std::vector<IdString> result;
    result.reserve(size_);
    for (std::int32_t node = next_[head_]; node != head_; node = next_[node]) {
        result.push_back(node);
    }
    return result;
}

std::int32_t OrderingBuilder::matches(std::int32_t u, Neighbours neighbours) const {
    const IdString before = u == head_ ? 0 : u;
    const IdString after = next_[u] == head_ ? 0 : next_[u];
    return (neighbours.predecessor == before) + (neighbours.successor == after);
}

void OrderingBuilder::place_after(std::int32_t u, IdString path) {
    const std::int32_t v = next_[u];
    const auto high = [&] {
        return v == head_ ? std::numeric_limits<std::uint64_t>::max() : label_[v];
    };
    if (high() - gap_key(u) < 2)
        relabel();
    const std::uint64_t low = gap_key(u);
    const std::uint64_t room = high() - low;
    // Appending steps by the spacing, so a long run of appends needs no relabelling.
    label_[path] = low + (v == head_ && room > label_spacing ? label_spacing : room / 2);
    next_[u] = path;
    previous_[path] = u;
    next_[path] = v;
    previous_[v] = path;
    placed_[path] = true;
    ++size_;
}

void OrderingBuilder::relabel() {
    std::uint64_t label = 0;
    for (std::int32_t node = next_[head_]; node != head_; node = next_[node]) {
        label += label_spacing;
        label_[node] = label;
    }
}

LogScorer::LogScorer(const LoadLogs& logs) {
    std::size_t total = 0;
    for (const auto& log : logs)
        total += log.size();
    entries_.reserve(total);
    for (const auto& log : logs) {
        if (log.empty())
            continue;
        logs_.push_back({entries_.size(), log.size()});
        entries_.insert(entries_.end(), log.begin(), log.end());
    }
    // The score is the largest log value, which does not depend on the order of the logs; logs of
    // like length side by side keep the interleaved passes below busy.
    std::stable_sort(logs_.begin(), logs_.end(),
                     [](const Span& a, const Span& b) { return a.count > b.count; });
}

namespace {

// Scores L logs at once. Each log keeps its own running sum, added in its own order, so the
// result is exactly that of one log after the other; interleaving only lets the additions of
// different logs overlap instead of each waiting for the one before.
template <std::size_t L>
float score_logs(const IdString* entries, const std::size_t* firsts, const std::size_t* counts,
                 const std::int32_t* position) {
    const IdString* path[L];
    float expected[L];
    float sum[L];
    std::size_t common = counts[0];
    for (std::size_t lane = 0; lane < L; ++lane) {
        path[lane] = entries + firsts[lane];
        expected[lane] = 0.0f;
        sum[lane] = 0.0f;
        common = std::min(common, counts[lane]);
    }
    for (std::size_t step = 0; step < common; ++step) {
        for (std::size_t lane = 0; lane < L; ++lane) {
            add_jump(position[path[lane][step]], expected[lane], sum[lane]);
        }
    }
    float worst = 0.0f;
    for (std::size_t lane = 0; lane < L; ++lane) {
        for (std::size_t step = common; step < counts[lane]; ++step) {
            add_jump(position[path[lane][step]], expected[lane], sum[lane]);
        }
        worst = std::max(worst, sum[lane] / static_cast<float>(counts[lane]));
    }
    return worst;
}

}  // namespace

float LogScorer::score(const std::vector<std::int32_t>& positions) const {
    constexpr std::size_t lanes = 8;
    float worst = 0.0f;
    for (std::size_t done = 0; done < logs_.size();) {
        std::size_t firsts[lanes];
        std::size_t counts[lanes];
        const std::size_t width = std::min(lanes, logs_.size() - done);
        for (std::size_t lane = 0; lane < width; ++lane) {
            firsts[lane] = logs_[done + lane].first;
            counts[lane] = logs_[done + lane].count;
        }
        float value;
        std::size_t taken;
        if (width == 8) {
            value = score_logs<8>(entries_.data(), firsts, counts, positions.data()), taken = 8;
        } else if (width >= 4) {
            value = score_logs<4>(entries_.data(), firsts, counts, positions.data()), taken = 4;
        } else if (width >= 2) {
            value = score_logs<2>(entries_.data(), firsts, counts, positions.data()), taken = 2;
        } else {
            value = score_logs<1>(entries_.data(), firsts, counts, positions.data()), taken = 1;
        }
        worst = std::max(worst, value);
        done += taken;
    }
    return worst;
}

std::vector<IdString> build_ordering(const LoadLogs& logs) {
    if (logs.empty())
        return {};
    OrderingBuilder builder(logs);
    const std::size_t largest = largest_log(logs);
    builder.fill(logs[largest]);
    for (std::size_t i = 0; i < logs.size(); ++i) {
        if (i != largest)
            builder.insert(logs[i]);
    }
    return builder.ordering();
}

float merge_score(const LoadLogs& logs, const std::vector<IdString>& ordering) {
    std::vector<std::int32_t> positions(id_count(logs), 0);
    for (std::size_t i = 0; i < ordering.size(); ++i) {
        if (static_cast<std::size_t>(ordering[i]) < positions.size()) {
            positions[ordering[i]] = static_cast<std::int32_t>(i);
        }
    }
    return LogScorer(logs).score(positions);
}

OrderingSearch::OrderingSearch(const LoadLogs& logs, std::vector<IdString> ordering)
    : logs_(logs),
      scorer_(logs),
      best_(std::move(ordering)),
      candidate_(best_),
      positions_(id_count(logs), 0),
      changed_first_(1),
      changed_last_(0) {
    for (std::size_t i = 0; i < candidate_.size(); ++i) {
        if (static_cast<std::size_t>(candidate_[i]) >= positions_.size()) {
            positions_.resize(static_cast<std::size_t>(candidate_[i]) + 1, 0);
        }
        positions_[candidate_[i]] = static_cast<std::int32_t>(i);
    }
    best_score_ = scorer_.score(positions_);
}

bool OrderingSearch::attempt() {
    if (logs_.empty())
        return false;
    for (int move = 0; move < 10; ++move) {
        const auto& log = logs_[static_cast<std::size_t>(random()) % logs_.size()];
        const auto draw = static_cast<std::size_t>(random());
        // A log of one path (or none) has no pair to move; its draw is still taken, so the moves
        // after it stay the same.
        if (log.size() < 2)
            continue;
        const std::size_t k = draw % (log.size() - 1);
        if (log[k] != log[k + 1])
            move_after(log[k], log[k + 1]);
    }
    // A candidate equal to the best scores the same, which is no improvement.
    if (changed_first_ > changed_last_)
        return false;
    const float score = scorer_.score(positions_);
    const bool better = score < best_score_;
    const auto first = static_cast<std::ptrdiff_t>(changed_first_);
    const auto last = static_cast<std::ptrdiff_t>(changed_last_) + 1;
    if (better) {
        std::copy(candidate_.begin() + first, candidate_.begin() + last, best_.begin() + first);
        best_score_ = score;
    } else {
        std::copy(best_.begin() + first, best_.begin() + last, candidate_.begin() + first);
        for (std::size_t i = changed_first_; i <= changed_last_; ++i) {
            positions_[candidate_[i]] = static_cast<std::int32_t>(i);
        }
    }
    changed_first_ = 1;
    changed_last_ = 0;
    return better;
}

std::int32_t OrderingSearch::random() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<std::int32_t>((state_ >> 16) & 0x7FFF);
}

void OrderingSearch::move_after(IdString a, IdString b) {
    const auto from = static_cast<std::size_t>(positions_[b]);
    const auto at = static_cast<std::size_t>(positions_[a]);
    std::size_t first;
    std::size_t last;
    if (from < at) {
        // b leaves a gap that the paths up to a close; b goes where a stood.
        first = from;
        last = at;
        std::copy(candidate_.begin() + static_cast<std::ptrdiff_t>(from) + 1,
                  candidate_.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                  candidate_.begin() + static_cast<std::ptrdiff_t>(from));
    } else if (from > at + 1) {
        first = at + 1;
        last = from;
        std::copy_backward(candidate_.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                           candidate_.begin() + static_cast<std::ptrdiff_t>(from),
                           candidate_.begin() + static_cast<std::ptrdiff_t>(from) + 1);
    } else {
        return;  // b already follows a
    }
    const std::size_t target = from < at ? at : at + 1;
    candidate_[target] = b;
    for (std::size_t i = first; i <= last; ++i) {
        positions_[candidate_[i]] = static_cast<std::int32_t>(i);
    }
    if (changed_first_ > changed_last_) {
        changed_first_ = first;
        changed_last_ = last;
    } else {
        changed_first_ = std::min(changed_first_, first);
        changed_last_ = std::max(changed_last_, last);
    }
}

std::optional<std::int32_t> search_seconds(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        negative = value[i++] == '-';
    if (i == value.size() || value[i] < '0' || value[i] > '9')
        return std::nullopt;
    constexpr std::int64_t limit = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        // Past the limit only the clamp matters; stopping there keeps it from overflowing.
        magnitude = std::min(magnitude * 10 + (value[i] - '0'), limit);
    }
    const std::int64_t seconds = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(seconds, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

void write_merged_log(const std::string& name, const std::vector<IdString>& ordering) {
    std::string text;
    for (IdString path : ordering) {
        text += "\t<open path=\"";
        append_escaped(text, string_of(path));
        text += "\"/>\r\n";
    }
    ReplacingFile file(name);
    constexpr std::size_t chunk = std::size_t{1} << 20;
    for (std::size_t done = 0; done < text.size(); done += chunk) {
        const std::size_t count = std::min(chunk, text.size() - done);
        write_bytes(file.archive(), text.data() + done, static_cast<std::uint32_t>(count));
    }
    file.commit();
}

void merge_load_logs(const std::string& merged_log, const std::vector<std::string>& source_logs,
                     std::optional<std::int32_t> search_seconds) {
    for (const std::string& name : source_logs) {
        // A merged log written over a source would lose that source.
        if (same_file(merged_log, name))
            throw std::runtime_error("The merged log " + merged_log + " is one of the source logs");
    }
    log_verbose << "Parsing logs..." << std::endl;
    LoadLogs logs;
    for (const std::string& name : source_logs) {
        logs.push_back(read_load_log(name));
        log_verbose << "Parsing log " << name << "... done (" << logs.back().size() << " paths)"
                    << std::endl;
    }
    if (logs.empty())
        return;

    log_verbose << "Finding the largest log... ";
    const std::size_t largest = largest_log(logs);
    log_verbose << "done" << std::endl;
    log_verbose << "Filling ordering with largest log contents... ";
    OrderingBuilder builder(logs);
    builder.fill(logs[largest]);
    log_verbose << "done" << std::endl;
    log_verbose << "Inserting other logs... ";
    for (std::size_t i = 0; i < logs.size(); ++i) {
        if (i == largest)
            continue;
        builder.insert(logs[i]);
        log_verbose << "*";
    }
    log_verbose << std::endl;

    std::vector<IdString> ordering = builder.ordering();
    if (!search_seconds) {
        log_verbose << "Merge score: " << merge_score(logs, ordering) << std::endl;
    } else {
        // The budget counts from before the first ordering is scored.
        const std::uint64_t start = platform::clock_ticks();
        OrderingSearch search(logs, std::move(ordering));
        while (elapsed_seconds(start) < *search_seconds) {
            if (search.attempt()) {
                log_detail << "\nMerge score: " << search.best_score() << std::endl;
            }
            log_detail << "." << std::flush;
        }
        log_verbose << "Merge score: " << search.best_score() << std::endl;
        ordering = search.best_ordering();
    }
    write_merged_log(merged_log, ordering);
    log_verbose << "Writing merged log... done" << std::endl;
}

}  // namespace kam
