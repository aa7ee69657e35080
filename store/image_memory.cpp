#include "store/image_memory.h"

#include <cerrno>
#include <utility>
#include <sys/stat.h>

#include "store/database.h"

namespace {

// The versions of the table, in order; a new version is a step added at the end.
const std::vector<std::string> schema_steps = {
    "CREATE TABLE images ("
    " path TEXT PRIMARY KEY,"       // the file written
    " address TEXT NOT NULL,"       // what was fetched
    " etag TEXT NOT NULL,"          // as the server sent it, '' for none
    " last_modified TEXT NOT NULL," // the same
    " size INTEGER NOT NULL,"       // the file once written
    " mtime_ns INTEGER NOT NULL,"
    " sha256 BLOB NOT NULL,"
    " written INTEGER NOT NULL);" // 1, 2, 3 … in the order of writing
    "CREATE INDEX images_by_address ON images (address, written);"
    "CREATE INDEX images_by_written ON images (written);",
};

const char* const columns = "SELECT path, address, etag, last_modified, size, mtime_ns, sha256 FROM images ";

RememberedImage read_row(const Statement& row) {
    return {row.text(0), row.text(1), row.text(2), row.text(3), row.number(4), row.number(5), row.text(6)};
}

bool gone(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

} // namespace

DatabaseImageMemory::DatabaseImageMemory(Database& database, std::string notice)
    : database_(&database), notice_(std::move(notice)) {
    if (const DatabaseResult upgraded = database.upgrade("images", schema_steps); !upgraded)
        give_up(upgraded.error());
}

void DatabaseImageMemory::give_up(const std::string& why) {
    if (database_ && notice_.empty())
        notice_ = "la mémoire des images téléchargées n'a pas pu être lue ou écrite (" + why +
                  ") : les extractions continuent sans elle.";
    database_ = nullptr;
}

std::optional<RememberedImage> DatabaseImageMemory::recall(const std::string& path) {
    if (!database_)
        return std::nullopt;
    Result<Statement, DatabaseFailure> query = database_->prepare(std::string(columns) + "WHERE path = ?1");
    if (!query) {
        give_up(query.error());
        return std::nullopt;
    }
    query->bind(1, path);
    const Result<bool, DatabaseFailure> found = query->step();
    if (!found)
        give_up(found.error());
    if (!found || !*found)
        return std::nullopt;
    return read_row(*query);
}

std::vector<RememberedImage> DatabaseImageMemory::written_from(const std::string& address) {
    std::vector<RememberedImage> images;
    if (!database_)
        return images;
    Result<Statement, DatabaseFailure> query =
        database_->prepare(std::string(columns) + "WHERE address = ?1 ORDER BY written DESC");
    if (!query) {
        give_up(query.error());
        return images;
    }
    query->bind(1, address);
    for (;;) {
        const Result<bool, DatabaseFailure> found = query->step();
        if (!found) {
            give_up(found.error());
            return {};
        }
        if (!*found)
            return images;
        images.push_back(read_row(*query));
    }
}

void DatabaseImageMemory::remember(const RememberedImage& image) {
    if (!database_)
        return;
    Result<Statement, DatabaseFailure> insert =
        database_->prepare("INSERT OR REPLACE INTO images VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                           "(SELECT IFNULL(MAX(written), 0) + 1 FROM images))");
    if (!insert)
        return give_up(insert.error());
    insert->bind(1, image.path).bind(2, image.address).bind(3, image.etag).bind(4, image.last_modified);
    insert->bind(5, image.size).bind(6, image.mtime_ns).bind_blob(7, image.digest);
    if (const DatabaseResult done = insert->run(); !done)
        give_up(done.error());
}

void DatabaseImageMemory::tidy() {
    if (!database_)
        return;
    Database::Transaction transaction(*database_);
    if (const DatabaseResult begun = transaction.begin(); !begun)
        return give_up(begun.error());
    std::vector<std::string> gone_paths;
    {
        Result<Statement, DatabaseFailure> all = database_->prepare("SELECT path FROM images");
        if (!all)
            return give_up(all.error());
        for (;;) {
            const Result<bool, DatabaseFailure> row = all->step();
            if (!row)
                return give_up(row.error());
            if (!*row)
                break;
            if (std::string path = all->text(0); gone(path))
                gone_paths.push_back(std::move(path));
        }
    }
    Result<Statement, DatabaseFailure> forget = database_->prepare("DELETE FROM images WHERE path = ?1");
    Result<Statement, DatabaseFailure> cap = database_->prepare(
        "DELETE FROM images WHERE written <= (SELECT written FROM images ORDER BY written DESC LIMIT 1 OFFSET ?1)");
    if (!forget || !cap)
        return give_up(forget ? cap.error() : forget.error());
    for (const std::string& path : gone_paths)
        if (const DatabaseResult done = forget->bind(1, path).run(); !done)
            return give_up(done.error());
    if (const DatabaseResult done = cap->bind(1, max_images).run(); !done)
        return give_up(done.error());
    if (const DatabaseResult committed = transaction.commit(); !committed)
        give_up(committed.error());
}

std::string DatabaseImageMemory::take_notice() {
    return std::exchange(notice_, std::string());
}

std::unique_ptr<ImageMemory> image_memory_in(OpenedDatabase& opened) {
    if (!opened.database)
        return std::make_unique<NoImageMemory>(opened.notice);
    return std::make_unique<DatabaseImageMemory>(*opened.database, opened.notice);
}
