#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/result.h"

struct sqlite3;
struct sqlite3_stmt;

/// Why the database failed, where a caller acts on it.
enum class DatabaseFailure {
    damaged,    ///< not a database, or its content is broken: set it aside and start again
    unwritable, ///< read-only, a full disk, a file-size limit, an I/O error
    failed      ///< anything else (a database of a newer program, a fault of ours)
};

using DatabaseResult = Result<void, DatabaseFailure>;

/// One prepared statement, finalised when it goes. Parameters are numbered
/// from 1, columns from 0, as SQLite numbers them.
class Statement {
public:
    Statement() = default;
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) noexcept = default;

    /// Binds bytes as text (kept as they are, whatever their encoding) or a number.
    Statement& bind(int parameter, std::string_view text);
    Statement& bind(int parameter, std::int64_t number);
    Statement& bind_blob(int parameter, std::string_view bytes);

    /// Runs one step: true when a row is there to read, false when done.
    Result<bool, DatabaseFailure> step();
    /// Runs to the end, for statements that give no rows.
    DatabaseResult run();
    /// Makes the statement ready to run again, its parameters kept.
    void reset();

    std::string text(int column) const;
    std::int64_t number(int column) const;

    /// Owns `statement`, prepared on `connection`.
    Statement(sqlite3* connection, sqlite3_stmt* statement) : connection_(connection), statement_(statement) {}

private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const;
    };

    sqlite3* connection_ = nullptr;
    std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

/// One connection to an SQLite database file, closed when it goes. Several
/// parts of the program keep their tables in the same file, each with its
/// own schema version, brought up to date by upgrade().
class Database {
public:
    /// Opens `path`, creating it with mode 0600 when missing, in WAL mode,
    /// and checks that it is a sound database.
    static Result<Database, DatabaseFailure> open(const std::string& path);
    /// Opens `path` for reading only, as it is: nothing is made, changed or
    /// checked. In WAL mode a reader never waits for a writer, so that this
    /// needs no lock while another process writes.
    static Result<Database, DatabaseFailure> open_to_read(const std::string& path);

    Database(Database&&) noexcept = default;
    Database& operator=(Database&&) noexcept = default;

    Result<Statement, DatabaseFailure> prepare(std::string_view sql);
    /// Runs one or more statements that give no rows.
    DatabaseResult execute(const std::string& sql);

    /// Brings the tables of `module` to version steps.size(): step k (from 0)
    /// takes them from version k to k + 1, each in its own transaction. A
    /// version above what this program knows is refused: a newer program made it.
    DatabaseResult upgrade(const std::string& module, const std::vector<std::string>& steps);
    /// The version of the tables of `module`: 0 when it has none yet.
    Result<std::int64_t, DatabaseFailure> version(const std::string& module);

    /// BEGIN IMMEDIATE … COMMIT; rolled back unless committed.
    class Transaction {
    public:
        explicit Transaction(Database& database) : database_(database) {}
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        DatabaseResult begin();
        DatabaseResult commit();

    private:
        Database& database_;
        bool open_ = false;
    };

private:
    struct Close {
        void operator()(sqlite3* connection) const;
    };
    explicit Database(sqlite3* connection) : connection_(connection) {}
    DatabaseResult failure(int code) const;

    std::unique_ptr<sqlite3, Close> connection_;
};

/// The database shared by the parts of the program in the data folder.
inline constexpr const char* database_file_name = "quillmoor.db";

/// A database opened in the data folder, and what the user is to hear of it.
struct OpenedDatabase {
    std::unique_ptr<Database> database; ///< none when it cannot be used
    std::string notice;                 ///< in French; "" when all went well
};

/// Opens database_file_name in `folder` (ending in "/"). A damaged one is
/// set aside as ".bak" (with its WAL file, as "quillmoor.db.bak-wal") and an
/// empty one made in its place; one that cannot be opened or written is not
/// used. The notice says either, once, for the user.
OpenedDatabase open_data_database(const std::string& folder);

/// The French reason of a failure of the database.
std::string database_error_text(int sqlite_code, int system_error);
