#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/result.h"

struct OpenedDatabase;

/// Who started a run.
enum class RunOrigin : int {
    button = 0,   ///< "Extraire maintenant !"
    schedule = 1, ///< a pass of the scheduler
    terminal = 2  ///< quillmoor --run
};

/// How a run ended.
enum class RunEnding : int {
    completed = 0,  ///< it went to its end, and nothing it had to do failed
    incomplete = 1, ///< it went to its end, but pages or images failed
    stopped = 2     ///< it was stopped before its end (a quit, a signal)
};

/// An address that a run could not fetch or write, and why, in French
/// ("réseau : …", "réponse du serveur : 404", "disque : …").
struct RunFailure {
    std::string address;
    std::string reason;
};

/// What one run did, as the journal keeps it. Times are seconds since the
/// epoch, UTC: the journal shows them in local time.
struct RunRecord {
    std::int64_t id = 0; ///< given by the journal when the run is recorded
    std::string title;
    RunOrigin origin = RunOrigin::button;
    std::int64_t started = 0;
    std::int64_t ended = 0;
    RunEnding ending = RunEnding::completed;
    /// A scheduled run whose time came while the program was not running:
    /// when it was due. None for a run on time.
    std::optional<std::int64_t> due;
    int pages_visited = 0;
    int images_copied = 0;
    int images_unchanged = 0;
    int images_failed = 0;            ///< images that failed (the pages are among the failures)
    std::vector<RunFailure> failures; ///< read back by failures_of(), not by recent()
    std::vector<std::string> files;   ///< the files written, in order; read back by files_of()
};

/// The journal of runs: what each run did and which files it wrote, kept
/// in the program's database beside what is remembered of the images, so
/// that the window and quillmoor --run write and read the same one. At most
/// kept_runs runs are kept, the oldest pruned with their details. Like the
/// memory of images, it never stops a run: when it cannot be written, runs go
/// on unrecorded and the user hears of it once (take_notice()).
class RunJournal {
public:
    static constexpr int kept_runs = 1000;
    /// The most failures and files kept of one run: what the lists of a run
    /// can hold (9 990 pages and 9 990 images; an image is written once).
    /// Beyond them, the rest is not kept.
    static constexpr std::size_t kept_failures = 19'980;
    static constexpr std::size_t kept_files = 9'990;

    virtual ~RunJournal() = default;

    /// Records a run that has ended, its failures and files with it, in one
    /// transaction, and prunes beyond kept_runs. Its id, or 0 when it could
    /// not be recorded.
    virtual std::int64_t record(const RunRecord& run) = 0;

    /// The newest runs first, at most `limit`, of every title or of `title`
    /// only (compared trimmed), without their failures and files.
    virtual std::vector<RunRecord> recent(int limit, const std::optional<std::string>& title = std::nullopt) = 0;

    /// The failures and the files of run `id`; empty when it is unknown.
    virtual std::vector<RunFailure> failures_of(std::int64_t id) = 0;
    virtual std::vector<std::string> files_of(std::int64_t id) = 0;

    /// What the user should hear of the journal (it could not be written),
    /// in French, once; "" when nothing is to be told.
    virtual std::string take_notice() = 0;
};

/// Keeps nothing, and gives nothing back.
class NoRunJournal final : public RunJournal {
public:
    /// `notice`: why there is no journal, told once.
    explicit NoRunJournal(std::string notice = {}) : notice_(std::move(notice)) {}
    std::int64_t record(const RunRecord&) override { return 0; }
    std::vector<RunRecord> recent(int, const std::optional<std::string>& = std::nullopt) override { return {}; }
    std::vector<RunFailure> failures_of(std::int64_t) override { return {}; }
    std::vector<std::string> files_of(std::int64_t) override { return {}; }
    std::string take_notice() override { return std::exchange(notice_, std::string()); }

private:
    std::string notice_;
};

/// The journal over the database opened in the data folder (its tables are
/// made or brought up to date here), or one that keeps nothing when the
/// database could not be opened: the memory of the images tells why.
std::unique_ptr<RunJournal> run_journal_in(OpenedDatabase& opened);

/// The journal of the data folder `folder` (ending in "/") to read without
/// its lock, while a run may be writing it: the database opened read-only,
/// nothing made, set aside or brought up to date. One that keeps nothing
/// while no run was ever recorded; why, in French, when it cannot be read.
/// A run that ends meanwhile is read whole or not at all.
Result<std::unique_ptr<RunJournal>> run_journal_to_read(const std::string& folder);
