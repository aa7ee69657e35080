#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"

/// A journal of runs kept in memory, newest last, pruned as the database's
/// is: for the window's tests and benchmarks.
class MemoryJournal final : public RunJournal {
public:
    std::int64_t record(const RunRecord& run) override {
        runs.push_back(run);
        runs.back().id = ++last_id_;
        if (std::ssize(runs) > kept_runs)
            runs.erase(runs.begin());
        return last_id_;
    }
    std::vector<RunRecord> recent(int limit, const std::optional<std::string>& title = std::nullopt) override {
        std::vector<RunRecord> found;
        for (auto run = runs.rbegin(); run != runs.rend() && std::ssize(found) < limit; ++run) {
            if (title && run->title != *title)
                continue;
            found.push_back(*run); // without its details, as the database reads it
            found.back().failures.clear();
            found.back().files.clear();
        }
        return found;
    }
    std::vector<RunFailure> failures_of(std::int64_t id) override { return find(id).failures; }
    std::vector<std::string> files_of(std::int64_t id) override { return find(id).files; }
    std::string take_notice() override { return {}; }

    std::vector<RunRecord> runs;

private:
    RunRecord find(std::int64_t id) const {
        for (const RunRecord& run : runs)
            if (run.id == id)
                return run;
        return {};
    }
    std::int64_t last_id_ = 0;
};
