#include "store/database.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/error_text.h"
#include "store/unique_fd.h"

namespace {

// A writer holding the file (none should: the data folder's lock keeps other
// processes out) is waited for this long before giving up.
constexpr int busy_timeout_ms = 2000;

DatabaseFailure kind_of(int code) {
    switch (code & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return DatabaseFailure::damaged;
    case SQLITE_READONLY:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DatabaseFailure::unwritable;
    default:
        return DatabaseFailure::failed;
    }
}

Error<DatabaseFailure> error_of(sqlite3* connection, int code) {
    const int system_error = connection ? sqlite3_system_errno(connection) : 0;
    return Error{database_error_text(code, system_error), kind_of(code)};
}

bool exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

std::string database_error_text(int sqlite_code, int system_error) {
    switch (sqlite_code & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "fichier abîmé";
    case SQLITE_READONLY:
        return "fichier en lecture seule";
    case SQLITE_FULL:
        return error_text(ENOSPC);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "fichier occupé par un autre programme";
    default:
        break;
    }
    if (system_error != 0)
        return error_text(system_error);
    // SQLite does not always keep the system's reason of a failed write.
    if ((sqlite_code & 0xff) == SQLITE_IOERR)
        return error_text(EIO);
    return std::string("erreur de la base de données (") + sqlite3_errstr(sqlite_code) + ")";
}

void Statement::Finalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

Statement& Statement::bind(int parameter, std::string_view text) {
    // SQLITE_TRANSIENT: the bytes are copied, so the caller's may go.
    sqlite3_bind_text(statement_.get(), parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind_blob(int parameter, std::string_view bytes) {
    sqlite3_bind_blob(statement_.get(), parameter, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind(int parameter, std::int64_t number) {
    sqlite3_bind_int64(statement_.get(), parameter, number);
    return *this;
}

Result<bool, DatabaseFailure> Statement::step() {
    const int code = sqlite3_step(statement_.get());
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    // Read before reset(), which readies the statement to run again.
    Error<DatabaseFailure> error = error_of(connection_, code);
    sqlite3_reset(statement_.get());
    return error;
}

DatabaseResult Statement::run() {
    for (;;) {
        const Result<bool, DatabaseFailure> stepped = step();
        if (!stepped)
            return Error{stepped.error(), stepped.kind()};
        if (!*stepped) {
            reset();
            return {};
        }
    }
}

void Statement::reset() {
    sqlite3_reset(statement_.get());
}

std::string Statement::text(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_.get(), column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)))
                 : std::string();
}

std::int64_t Statement::number(int column) const {
    return sqlite3_column_int64(statement_.get(), column);
}

void Database::Close::operator()(sqlite3* connection) const {
    sqlite3_close_v2(connection);
}

Result<Database, DatabaseFailure> Database::open(const std::string& path) {
    // Made here, rather than by SQLite with 0644, so that nobody else reads
    // what was fetched from where; SQLite gives its WAL and index files the
    // same permissions. O_NOFOLLOW: a link planted in its place is refused.
    {
        const UniqueFd made(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!made.valid() && errno != EACCES && errno != EROFS && errno != ENOSPC)
            return Error{error_text(errno), errno == ELOOP ? DatabaseFailure::failed : DatabaseFailure::unwritable};
    }
    sqlite3* connection = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &connection,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    Database database(connection);
    if (code != SQLITE_OK)
        return error_of(connection, code);
    sqlite3_extended_result_codes(connection, 1);
    sqlite3_busy_timeout(connection, busy_timeout_ms);
    // A file opened read-only works for reading: the run then goes on
    // without remembering, which the first write says.
    if (sqlite3_db_readonly(connection, "main") == 1)
        return Error{database_error_text(SQLITE_READONLY, 0), DatabaseFailure::unwritable};
    // WAL: a reader never waits for the writer; NORMAL: a commit is not
    // flushed to the disk, which loses at most the last writes at a power
    // cut, never the database. A file that is no database fails here.
    if (DatabaseResult set = database.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"); !set)
        return Error{set.error(), set.kind()};
    Result<Statement, DatabaseFailure> check = database.prepare("PRAGMA quick_check");
    if (!check)
        return Error{check.error(), check.kind()};
    const Result<bool, DatabaseFailure> row = check->step();
    if (!row)
        return Error{row.error(), row.kind()};
    if (!*row || check->text(0) != "ok")
        return Error{database_error_text(SQLITE_CORRUPT, 0), DatabaseFailure::damaged};
    return database;
}

Result<Database, DatabaseFailure> Database::open_to_read(const std::string& path) {
    sqlite3* connection = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
    Database database(connection);
    if (code != SQLITE_OK)
        return error_of(connection, code);
    sqlite3_extended_result_codes(connection, 1);
    sqlite3_busy_timeout(connection, busy_timeout_ms);
    return database;
}

Result<Statement, DatabaseFailure> Database::prepare(std::string_view sql) {
    sqlite3_stmt* statement = nullptr;
    const int code =
        sqlite3_prepare_v2(connection_.get(), sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
    if (code != SQLITE_OK)
        return error_of(connection_.get(), code);
    return Statement(connection_.get(), statement);
}

DatabaseResult Database::execute(const std::string& sql) {
    const int code = sqlite3_exec(connection_.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        return error_of(connection_.get(), code);
    return {};
}

DatabaseResult Database::upgrade(const std::string& module, const std::vector<std::string>& steps) {
    if (DatabaseResult made = execute("CREATE TABLE IF NOT EXISTS schema_versions "
                                      "(module TEXT PRIMARY KEY, version INTEGER NOT NULL) WITHOUT ROWID");
        !made)
        return made;
    for (;;) {
        Transaction transaction(*this);
        if (DatabaseResult begun = transaction.begin(); !begun)
            return begun;
        const Result<std::int64_t, DatabaseFailure> read = version(module);
        if (!read)
            return Error{read.error(), read.kind()};
        const std::int64_t version = *read;
        if (version > static_cast<std::int64_t>(steps.size()))
            return Error{"tables « " + module + " » d'une version plus récente de Quillmoor", DatabaseFailure::failed};
        if (version == static_cast<std::int64_t>(steps.size()))
            return transaction.commit();
        if (DatabaseResult stepped = execute(steps[static_cast<std::size_t>(version)]); !stepped)
            return stepped;
        Result<Statement, DatabaseFailure> write =
            prepare("INSERT OR REPLACE INTO schema_versions (module, version) VALUES (?1, ?2)");
        if (!write)
            return Error{write.error(), write.kind()};
        if (DatabaseResult written = write->bind(1, module).bind(2, version + 1).run(); !written)
            return written;
        if (DatabaseResult committed = transaction.commit(); !committed)
            return committed;
    }
}

Result<std::int64_t, DatabaseFailure> Database::version(const std::string& module) {
    Result<Statement, DatabaseFailure> tables =
        prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'schema_versions'");
    if (!tables)
        return Error{tables.error(), tables.kind()};
    const Result<bool, DatabaseFailure> made = tables->step();
    if (!made)
        return Error{made.error(), made.kind()};
    if (!*made)
        return std::int64_t{0};
    Result<Statement, DatabaseFailure> read = prepare("SELECT version FROM schema_versions WHERE module = ?1");
    if (!read)
        return Error{read.error(), read.kind()};
    read->bind(1, module);
    const Result<bool, DatabaseFailure> found = read->step();
    if (!found)
        return Error{found.error(), found.kind()};
    return *found ? read->number(0) : 0;
}

Database::Transaction::~Transaction() {
    if (open_)
        static_cast<void>(database_.execute("ROLLBACK"));
}

DatabaseResult Database::Transaction::begin() {
    DatabaseResult begun = database_.execute("BEGIN IMMEDIATE");
    open_ = begun.ok();
    return begun;
}

DatabaseResult Database::Transaction::commit() {
    DatabaseResult committed = database_.execute("COMMIT");
    open_ = !committed.ok() && sqlite3_get_autocommit(database_.connection_.get()) == 0;
    return committed;
}

OpenedDatabase open_data_database(const std::string& folder) {
    const std::string path = folder + database_file_name;
    Result<Database, DatabaseFailure> opened = Database::open(path);
    OpenedDatabase result;
    if (!opened && opened.kind() == DatabaseFailure::damaged) {
        // A cache: what it held is only worth a few more downloads. Kept
        // aside for whoever wants to look, its WAL beside it under the name
        // SQLite looks for; the index of the WAL is rebuilt from it.
        const std::string aside = path + ".bak";
        const bool moved = ::rename(path.c_str(), aside.c_str()) == 0 &&
                           (!exists(path + "-wal") || ::rename((path + "-wal").c_str(), (aside + "-wal").c_str()) == 0);
        ::unlink((path + "-shm").c_str());
        ::unlink((aside + "-shm").c_str());
        if (moved) {
            opened = Database::open(path);
            if (opened)
                result.notice = "la mémoire des images téléchargées « " + path +
                                " » était abîmée : elle a été mise de côté sous « " + aside +
                                " » et recommence vide ; les images déjà présentes seront téléchargées une fois "
                                "de plus.";
        }
    }
    if (!opened) {
        result.notice = "la mémoire des images téléchargées « " + path + " » n'est pas utilisable (" + opened.error() +
                        ") : les extractions se font sans elle.";
        return result;
    }
    result.database = std::make_unique<Database>(std::move(*opened));
    return result;
}
