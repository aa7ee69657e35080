#include "journal/journal.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include "net/text.h"
#include "store/database.h"

namespace {

// The versions of the tables, in order; a new version is a step added at the end.
const std::vector<std::string> schema_steps = {
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT," // in the order recorded, never given twice
    " title TEXT NOT NULL,"                  // trimmed
    " origin INTEGER NOT NULL,"              // RunOrigin
    " started INTEGER NOT NULL,"             // seconds since the epoch
    " ended INTEGER NOT NULL,"
    " ending INTEGER NOT NULL," // RunEnding
    " due INTEGER,"             // a late run: when it was due; NULL for a run on time
    " pages_visited INTEGER NOT NULL,"
    " images_copied INTEGER NOT NULL,"
    " images_unchanged INTEGER NOT NULL,"
    " images_failed INTEGER NOT NULL);"
    "CREATE INDEX runs_by_title ON runs (title, id);"
    // A run's details in the order of their rows.
    "CREATE TABLE run_failures (run INTEGER NOT NULL, address TEXT NOT NULL, reason TEXT NOT NULL);"
    "CREATE INDEX run_failures_by_run ON run_failures (run);"
    "CREATE TABLE run_files (run INTEGER NOT NULL, path TEXT NOT NULL);"
    "CREATE INDEX run_files_by_run ON run_files (run);",
};

const char* const run_columns = "SELECT id, title, origin, started, ended, ending, due IS NULL, due, pages_visited, "
                                "images_copied, images_unchanged, images_failed FROM runs ";

RunRecord read_run(const Statement& row) {
    RunRecord run;
    run.id = row.number(0);
    run.title = row.text(1);
    run.origin = static_cast<RunOrigin>(row.number(2));
    run.started = row.number(3);
    run.ended = row.number(4);
    run.ending = static_cast<RunEnding>(row.number(5));
    if (row.number(6) == 0)
        run.due = row.number(7);
    run.pages_visited = static_cast<int>(row.number(8));
    run.images_copied = static_cast<int>(row.number(9));
    run.images_unchanged = static_cast<int>(row.number(10));
    run.images_failed = static_cast<int>(row.number(11));
    return run;
}

/// The journal in the tables above. The first failure to read or write them
/// turns it off for the rest of the program's life, and is told once.
class DatabaseRunJournal final : public RunJournal {
public:
    /// Over `database`, which must outlive it, its tables brought up to date
    /// unless `reader`: a reader only reads, and owns its database.
    DatabaseRunJournal(Database& database, std::unique_ptr<Database> reader = nullptr)
        : database_(&database), reader_(std::move(reader)) {
        if (reader_)
            return;
        if (const DatabaseResult upgraded = database.upgrade("journal", schema_steps); !upgraded)
            give_up(upgraded.error());
    }

    std::int64_t record(const RunRecord& run) override;
    std::vector<RunRecord> recent(int limit, const std::optional<std::string>& title) override;
    std::vector<RunFailure> failures_of(std::int64_t id) override;
    std::vector<std::string> files_of(std::int64_t id) override;
    std::string take_notice() override { return std::exchange(notice_, std::string()); }

private:
    /// Turns the journal off, keeping why for take_notice(); gives `value`.
    template <typename T> T give_up(const std::string& why, T value = {}) {
        if (database_ && notice_.empty())
            notice_ = reader_ ? "le journal des extractions n'a pas pu être lu (" + why + ")."
                              : "le journal des extractions n'a pas pu être lu ou écrit (" + why +
                                    ") : les extractions continuent sans lui.";
        database_ = nullptr;
        return value;
    }
    void give_up(const std::string& why) { give_up<int>(why); }

    /// Each row of `query` read by `read`, or nothing when reading fails.
    template <typename T, typename Read> std::vector<T> rows(Result<Statement, DatabaseFailure>& query, Read read) {
        std::vector<T> found;
        if (!query)
            return give_up<std::vector<T>>(query.error());
        for (;;) {
            const Result<bool, DatabaseFailure> row = query->step();
            if (!row)
                return give_up<std::vector<T>>(row.error());
            if (!*row)
                return found;
            found.push_back(read(*query));
        }
    }

    Database* database_; ///< null once given up
    std::unique_ptr<Database> reader_;
    std::string notice_;
};

std::int64_t DatabaseRunJournal::record(const RunRecord& run) {
    if (!database_)
        return 0;
    Database::Transaction transaction(*database_);
    if (const DatabaseResult begun = transaction.begin(); !begun)
        return give_up<std::int64_t>(begun.error());
    Result<Statement, DatabaseFailure> insert = database_->prepare(
        "INSERT INTO runs (title, origin, started, ended, ending, due, pages_visited, images_copied, "
        "images_unchanged, images_failed) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) RETURNING id");
    Result<Statement, DatabaseFailure> failure = database_->prepare("INSERT INTO run_failures VALUES (?1, ?2, ?3)");
    Result<Statement, DatabaseFailure> file = database_->prepare("INSERT INTO run_files VALUES (?1, ?2)");
    if (!insert || !failure || !file)
        return give_up<std::int64_t>(!insert ? insert.error() : !failure ? failure.error() : file.error());
    insert->bind(1, m_qmr::trim_spaces(run.title)).bind(2, std::int64_t{static_cast<int>(run.origin)});
    insert->bind(3, run.started).bind(4, run.ended).bind(5, std::int64_t{static_cast<int>(run.ending)});
    if (run.due)
        insert->bind(6, *run.due);
    insert->bind(7, std::int64_t{run.pages_visited}).bind(8, std::int64_t{run.images_copied});
    insert->bind(9, std::int64_t{run.images_unchanged}).bind(10, std::int64_t{run.images_failed});
    const Result<bool, DatabaseFailure> inserted = insert->step();
    if (!inserted || !*inserted)
        return give_up<std::int64_t>(inserted ? "aucune ligne ajoutée" : inserted.error());
    const std::int64_t id = insert->number(0);
    insert->reset();
    for (std::size_t at = 0; at < std::min(run.failures.size(), kept_failures); ++at) {
        failure->bind(1, id).bind(2, run.failures[at].address).bind(3, run.failures[at].reason);
        if (const DatabaseResult done = failure->run(); !done)
            return give_up<std::int64_t>(done.error());
    }
    for (std::size_t at = 0; at < std::min(run.files.size(), kept_files); ++at)
        if (const DatabaseResult done = file->bind(1, id).bind(2, run.files[at]).run(); !done)
            return give_up<std::int64_t>(done.error());
    // The oldest beyond kept_runs go, with their details.
    for (const char* table : {"run_failures WHERE run", "run_files WHERE run", "runs WHERE id"}) {
        Result<Statement, DatabaseFailure> prune = database_->prepare(
            std::string("DELETE FROM ") + table + " <= (SELECT id FROM runs ORDER BY id DESC LIMIT 1 OFFSET ?1)");
        if (!prune)
            return give_up<std::int64_t>(prune.error());
        if (const DatabaseResult done = prune->bind(1, std::int64_t{kept_runs}).run(); !done)
            return give_up<std::int64_t>(done.error());
    }
    if (const DatabaseResult committed = transaction.commit(); !committed)
        return give_up<std::int64_t>(committed.error());
    return id;
}

std::vector<RunRecord> DatabaseRunJournal::recent(int limit, const std::optional<std::string>& title) {
    if (!database_)
        return {};
    Result<Statement, DatabaseFailure> query =
        database_->prepare(std::string(run_columns) + (title ? "WHERE title = ?2 " : "") + "ORDER BY id DESC LIMIT ?1");
    if (query) {
        query->bind(1, std::int64_t{limit});
        if (title)
            query->bind(2, m_qmr::trim_spaces(*title));
    }
    return rows<RunRecord>(query, read_run);
}

std::vector<RunFailure> DatabaseRunJournal::failures_of(std::int64_t id) {
    if (!database_)
        return {};
    Result<Statement, DatabaseFailure> query =
        database_->prepare("SELECT address, reason FROM run_failures WHERE run = ?1 ORDER BY rowid");
    if (query)
        query->bind(1, id);
    return rows<RunFailure>(query, [](const Statement& row) { return RunFailure{row.text(0), row.text(1)}; });
}

std::vector<std::string> DatabaseRunJournal::files_of(std::int64_t id) {
    if (!database_)
        return {};
    Result<Statement, DatabaseFailure> query =
        database_->prepare("SELECT path FROM run_files WHERE run = ?1 ORDER BY rowid");
    if (query)
        query->bind(1, id);
    return rows<std::string>(query, [](const Statement& row) { return row.text(0); });
}

} // namespace

std::unique_ptr<RunJournal> run_journal_in(OpenedDatabase& opened) {
    // The memory of the images tells what opening the database found: once is enough.
    if (!opened.database)
        return std::make_unique<NoRunJournal>();
    return std::make_unique<DatabaseRunJournal>(*opened.database);
}

Result<std::unique_ptr<RunJournal>> run_journal_to_read(const std::string& folder) {
    const std::string path = folder + database_file_name;
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return std::unique_ptr<RunJournal>(std::make_unique<NoRunJournal>());
    Result<Database, DatabaseFailure> opened = Database::open_to_read(path);
    Result<std::int64_t, DatabaseFailure> version =
        opened ? opened->version("journal") : Error{opened.error(), opened.kind()};
    if (!version)
        return Error{"le journal des extractions « " + path + " » n'a pas pu être lu (" + version.error() + ")."};
    if (*version == 0)
        return std::unique_ptr<RunJournal>(std::make_unique<NoRunJournal>());
    if (*version != static_cast<std::int64_t>(schema_steps.size()))
        return Error{"le journal des extractions « " + path + " » vient d'une version plus récente de Quillmoor."};
    auto reader = std::make_unique<Database>(std::move(*opened));
    Database& database = *reader;
    return std::unique_ptr<RunJournal>(std::make_unique<DatabaseRunJournal>(database, std::move(reader)));
}
