// The log-merging rules done the direct way (maps of counts, a scan of every gap, every candidate
// scored through a fresh map of positions): the yardstick the fast code must match bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "utility/id_string.h"

namespace plain {

using kam::IdString;
using Logs = std::vector<std::vector<IdString>>;

inline IdString best_key(const std::map<IdString, std::int32_t>& counts) {
    IdString best = 0;
    std::int32_t best_count = 0;
    for (const auto& [id, count] : counts) {
        if (count >= best_count) {
            best = id;
            best_count = count;
        }
    }
    return best;
}

inline std::vector<IdString> build_ordering(const Logs& logs) {
    std::map<IdString, std::map<IdString, std::int32_t>> predecessors;
    std::map<IdString, std::map<IdString, std::int32_t>> successors;
    for (const auto& log : logs) {
        for (std::size_t i = 0; i < log.size(); ++i) {
            predecessors[log[i]][i == 0 ? 0 : log[i - 1]] += 1;
            successors[log[i]][i + 1 == log.size() ? 0 : log[i + 1]] += 1;
        }
    }
    std::size_t largest = 0;
    for (std::size_t i = 0; i < logs.size(); ++i) {
        if (logs[i].size() >= logs[largest].size())
            largest = i;
    }
    std::vector<IdString> ordering;
    std::set<IdString> placed;
    for (IdString path : logs[largest]) {
        if (placed.insert(path).second)
            ordering.push_back(path);
    }
    for (std::size_t l = 0; l < logs.size(); ++l) {
        if (l == largest)
            continue;
        for (IdString path : logs[l]) {
            if (placed.count(path))
                continue;
            const IdString pred = best_key(predecessors[path]);
            const IdString succ = best_key(successors[path]);
            const std::size_t n = ordering.size();
            std::size_t chosen = 0;
            int most = -1;
            for (std::size_t gap = 0; gap <= n; ++gap) {
                const IdString before = gap == 0 ? 0 : ordering[gap - 1];
                const IdString after = gap == n ? 0 : ordering[gap];
                const int matches = (pred == before) + (succ == after);
                if (matches == 2) {
                    chosen = gap;
                    break;
                }
                if (matches >= most) {
                    most = matches;
                    chosen = gap;
                }
            }
            ordering.insert(ordering.begin() + static_cast<std::ptrdiff_t>(chosen), path);
            placed.insert(path);
        }
    }
    return ordering;
}

inline float score(const Logs& logs, const std::vector<IdString>& ordering) {
    std::map<IdString, int> position;
    for (std::size_t i = 0; i < ordering.size(); ++i)
        position[ordering[i]] = static_cast<int>(i);
    float worst = 0.0f;
    for (const auto& log : logs) {
        if (log.empty())
            continue;
        float expected = 0.0f;
        float sum = 0.0f;
        for (IdString path : log) {
            const int at = position[path];
            sum += std::fabs(at - expected);
            expected = static_cast<float>(at + 1);
        }
        worst = std::max(worst, sum / static_cast<float>(log.size()));
    }
    return worst;
}

class Search {
public:
    Search(const Logs& logs, std::vector<IdString> ordering)
        : logs_(logs), best_(std::move(ordering)), best_score_(score(logs_, best_)) {}

    bool attempt() {
        std::vector<IdString> candidate = best_;
        for (int move = 0; move < 10; ++move) {
            const auto& log = logs_[static_cast<std::size_t>(random()) % logs_.size()];
            const auto draw = static_cast<std::size_t>(random());
            if (log.size() < 2)
                continue;
            const std::size_t k = draw % (log.size() - 1);
            const IdString a = log[k];
            const IdString b = log[k + 1];
            if (a == b)
                continue;
            candidate.erase(std::find(candidate.begin(), candidate.end(), b));
            candidate.insert(std::find(candidate.begin(), candidate.end(), a) + 1, b);
        }
        const float candidate_score = score(logs_, candidate);
        if (!(candidate_score < best_score_))
            return false;
        best_ = std::move(candidate);
        best_score_ = candidate_score;
        return true;
    }

    float best_score() const { return best_score_; }
    const std::vector<IdString>& best_ordering() const { return best_; }

private:
    int random() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

    const Logs& logs_;
    std::vector<IdString> best_;
    float best_score_;
    std::uint32_t state_ = 1;
};

}  // namespace plain
