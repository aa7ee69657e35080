#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Database;
struct OpenedDatabase;

/// What is remembered of an image file that the program wrote: where it came
/// from, what the server said of that version, and the file as it was left.
struct RememberedImage {
    std::string path;    ///< the file written, the key
    std::string address; ///< what was fetched
    std::string etag;    ///< as the server sent it; "" for none
    std::string last_modified;
    std::int64_t size = 0; ///< the file's size and modification time once written
    std::int64_t mtime_ns = 0;
    std::string digest; ///< SHA-256 of its bytes, 32 bytes
};

/// What the runs remember of the images they write, so that the next run can
/// ask the server for an image only if it changed, and tell an image that did
/// not change from a new one without reading the file again. A cache: when
/// it forgets, or cannot remember, images are fetched whole and compared with
/// the files, and nothing else changes.
class ImageMemory {
public:
    virtual ~ImageMemory() = default;

    /// What is remembered of the file at `path`.
    virtual std::optional<RememberedImage> recall(const std::string& path) = 0;
    /// The files written from `address`, the last written first.
    virtual std::vector<RememberedImage> written_from(const std::string& address) = 0;
    /// Remembers a file just written (or found equal to what was fetched),
    /// replacing what was remembered of that path; it counts as the last written.
    virtual void remember(const RememberedImage& image) = 0;
    /// Forgets the files that are gone and, beyond the cap, the oldest.
    virtual void tidy() = 0;
    /// What the user should hear of the memory (it could not be written, for
    /// instance), in French, once; "" when nothing is to be told.
    virtual std::string take_notice() = 0;
};

/// Remembers nothing: every image is fetched whole, and compared with the files.
class NoImageMemory final : public ImageMemory {
public:
    /// `notice`: why there is no memory, told once.
    explicit NoImageMemory(std::string notice = {}) : notice_(std::move(notice)) {}
    std::optional<RememberedImage> recall(const std::string&) override { return std::nullopt; }
    std::vector<RememberedImage> written_from(const std::string&) override { return {}; }
    void remember(const RememberedImage&) override {}
    void tidy() override {}
    std::string take_notice() override { return std::exchange(notice_, std::string()); }

private:
    std::string notice_;
};

/// The memory kept in the table "images" of the program's database. The
/// first failure to read or write it (a full disk, a read-only file) turns
/// it off for the rest of the program's life, and is told once.
class DatabaseImageMemory final : public ImageMemory {
public:
    /// The most files remembered: past it, the oldest written are forgotten.
    static constexpr std::int64_t max_images = 50'000;

    /// Over `database`, which must outlive it; its tables are made or brought
    /// up to date here. `notice` is told first (what opening the database found).
    explicit DatabaseImageMemory(Database& database, std::string notice = {});

    std::optional<RememberedImage> recall(const std::string& path) override;
    std::vector<RememberedImage> written_from(const std::string& address) override;
    void remember(const RememberedImage& image) override;
    void tidy() override;
    std::string take_notice() override;

private:
    /// Turns the memory off, keeping why for take_notice().
    void give_up(const std::string& why);

    Database* database_; ///< null once given up
    std::string notice_;
};

/// The memory over the database opened in the data folder, or none when it
/// could not be opened; either first tells what opening it found.
std::unique_ptr<ImageMemory> image_memory_in(OpenedDatabase& opened);
