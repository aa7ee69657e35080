#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/internet_transfer.h"
#include "store/atomic_file.h"

/// What to do with an image whose file is already there. Stored as its
/// number, so a damaged line may hold any other: such a value replaces.
enum ExistingPolicy : int { leave_existing = 1, replace_existing = 2, new_version = 3 };

/// Where images go under the destination. Stored as its number: any other
/// value is flat.
enum Layout : int { flat_layout = 1, tree_layout = 2 };

namespace m_qmr {

/// The outcomes of copie_image.
inline constexpr int image_written = 1;
inline constexpr int image_not_written = 0;
inline constexpr int image_failed = -1;

/// Why copy_image did not write an image.
enum class CopyFailure {
    none,    ///< written, or not written on purpose (present under policy 1, no free version name)
    network, ///< the download brought no answer
    server,  ///< the answer was an error status, an error page or an empty body
    disk     ///< the image could not be placed or written under the destination
};

/// What copy_image did: the result of copie_image and, when the image was not
/// written, why.
struct ImageCopy {
    int result = -1;
    CopyFailure failure = CopyFailure::none;
};

/// The outcomes of copy_image, and of the run's copy loop that gives the same.
inline constexpr ImageCopy copy_written{image_written, CopyFailure::none};
inline constexpr ImageCopy copy_left_alone{image_not_written, CopyFailure::none};
inline constexpr ImageCopy copy_refused_by_server{image_not_written, CopyFailure::server};
inline constexpr ImageCopy copy_network_failure{image_failed, CopyFailure::network};
inline constexpr ImageCopy copy_disk_failure{image_failed, CopyFailure::disk};

/// Where an image goes, worked out from its address, the destination and the
/// layout before anything is fetched.
struct ImagePlace {
    std::string address; ///< trimmed, its dot segments resolved: what is fetched
    std::string root;    ///< the destination, ending in "/"
    std::string tree;    ///< under the tree layout, "host/dir/…/"; else ""
    std::string name;    ///< the file name, as the address writes it
    std::string directory() const;
};

/// The place of an image, or nothing when its address names no file or would
/// lead outside the destination. A layout other than tree_layout is flat.
/// With `all_image_formats` the name and the tree come from the address's
/// path alone, without its query or fragment: "a/photo.jpg?w=1200" is
/// "photo.jpg" in "a/".
[[nodiscard]] std::optional<ImagePlace> image_place(std::string_view address, std::string_view destination,
                                                    Layout layout, bool all_image_formats = false);

/// What the policy for images already present makes of a place, as things
/// stand on disk now.
struct ImageTarget {
    enum class Decision { leave, fetch };
    Decision decision;
    std::string path; ///< when fetched: the file to write, a "-vN" name under policy 3
};

/// A policy other than leave_existing and new_version replaces the file.
[[nodiscard]] ImageTarget choose_target(const ImagePlace& place, ExistingPolicy existing_policy);

/// An image body on its way to disk: a temporary file in the deepest level of
/// the image's folder that is already there, with the first bytes kept aside
/// for the error-page test. finish() makes the missing levels and renames it
/// into place, or drops it; whatever is not finished is dropped, with the
/// folders made for it.
class ImageDownload final : public BodySink {
public:
    ImageDownload() = default;
    ~ImageDownload() override;
    ImageDownload(const ImageDownload&) = delete;
    ImageDownload& operator=(const ImageDownload&) = delete;

    /// Makes the temporary file, and no folder of the tree; the destination
    /// only when it is missing and `make_destination`. False when the disk
    /// refuses, or a level of the tree is not a real folder.
    [[nodiscard]] bool open(const ImagePlace& place, bool make_destination = true);
    bool write(std::string_view bytes) override;
    /// Ends the download that `fetched` describes: written to `path` (in the
    /// folder of the place opened), with the folders it needs, or refused and
    /// dropped.
    [[nodiscard]] ImageCopy finish(const FetchResult& fetched, const std::string& path);
    /// Drops the temporary file and the folders made for it.
    void abandon();

private:
    bool fail();

    TemporaryFile file_;
    std::string head_;
    std::size_t size_ = 0;
    bool failed_ = false;
    std::string root_, tree_;          ///< of the place opened
    std::vector<std::string> created_; ///< folders made for this image, shallowest first
};

/// Downloads one image and writes it under `destination`: 1 written, 0 not
/// written on purpose (present under policy 1, all version names taken, an
/// error page by status or content, an empty body), -1 on a failure of the
/// transfer or the disk, or an address that would lead outside the
/// destination. A layout other than tree_layout is flat. Never writes
/// outside the destination and never leaves a partial file.
///
/// One image at a time, waiting for its fetch alone: a run copies its images
/// through ImageCopier, which fetches several side by side. This is the
/// reference that the tests and the fuzz targets hold the run's copies to,
/// and is reached from nowhere else.
[[nodiscard]] int copie_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                              int existing_policy, int layout);

/// copie_image, telling also why an image was not written. copie_image is the
/// original operation under its own name, with its 1 / 0 / -1 answer;
/// copy_image does the same copy and keeps the reason beside that answer,
/// for the run's failure counts. Both exist so that the plain answer stays
/// what it always was.
[[nodiscard]] ImageCopy copy_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                                   ExistingPolicy existing_policy, Layout layout);

/// The host-and-directories part of an address, ending in "/", or "".
/// "http://h/photos/2007/a.jpg" gives "h/photos/2007/".
std::string url_arbre(std::string_view address);

/// The text with every "/" turned into the system's separator, which on this
/// system is "/" itself.
std::string chemin_local(std::string_view text);

} // namespace m_qmr
