#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/internet_transfer.h"
#include "store/atomic_file.h"
#include "store/image_memory.h"
#include "store/result.h"
#include "store/sha256.h"

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
/// written, why; when it was, where.
struct ImageCopy {
    int result = -1;
    CopyFailure failure = CopyFailure::none;
    /// Not written because the server's image is one already on disk: it
    /// answered 304 to the validators sent, or sent bytes equal to the file's
    /// (or, under policy 3, to one of its versions).
    bool unchanged = false;
    /// The server's status when it refused (404, or 200 for an error page or
    /// an empty body).
    long http_status = 0;
    /// Why a network or disk failure happened: the transfer's text, or the
    /// system's reason in French.
    std::string error;
    /// The file written.
    std::string path;
};

/// The outcomes of copy_image, and of the run's copy loop that gives the same.
inline const ImageCopy copy_left_alone{image_not_written, CopyFailure::none, false, 0, {}, {}};
inline const ImageCopy copy_unchanged{image_not_written, CopyFailure::none, true, 0, {}, {}};
inline ImageCopy copy_written(std::string path) {
    return {image_written, CopyFailure::none, false, 0, {}, std::move(path)};
}
inline ImageCopy copy_refused_by_server(long http_status) {
    return {image_not_written, CopyFailure::server, false, http_status, {}, {}};
}
inline ImageCopy copy_network_failure(std::string error) {
    return {image_failed, CopyFailure::network, false, 0, std::move(error), {}};
}
inline ImageCopy copy_disk_failure(std::string error) {
    return {image_failed, CopyFailure::disk, false, 0, std::move(error), {}};
}
/// The reason of a disk failure for an address that gives no file in the destination.
inline constexpr const char* no_place_text = "l'adresse ne donne aucun fichier dans la destination";

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
/// stand on disk and in the memory now.
struct ImageTarget {
    enum class Decision { leave, fetch };
    Decision decision = Decision::fetch;
    std::string path; ///< when fetched: the file to write, a "-vN" name under policy 3
    /// Validators to send, from what was remembered of the file that this
    /// address wrote and that nobody changed since (under policy 3, the last
    /// written of its versions): a 304 then leaves the files as they are.
    std::string if_none_match, if_modified_since;
    /// The file already there, which a body equal to it is not written over
    /// or beside; "" for none.
    std::string existing;
    /// Under policy 3: nor is a body written that is equal to one of its versions.
    bool versions_too = false;

    bool conditional() const { return !if_none_match.empty() || !if_modified_since.empty(); }
    /// The fetch to start for this target at `address`, its body going to `sink`.
    FetchRequest request(const std::string& address, BodySink* sink) const;
};

/// A policy other than leave_existing and new_version replaces the file.
[[nodiscard]] ImageTarget choose_target(const ImagePlace& place, ExistingPolicy existing_policy, ImageMemory& memory);

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
    /// only when it is missing and `make_destination`. The disk's reason when
    /// it refuses, or a level of the tree is not a real folder.
    Result<void> open(const ImagePlace& place, bool make_destination = true);
    bool write(std::string_view bytes) override;
    /// Ends the download that `fetched` describes: written to `target.path`
    /// (in the folder of the place opened), with the folders it needs, and
    /// remembered; or dropped, when the server refused, answered 304, or sent
    /// the bytes of `target.existing` (or of one of its versions).
    [[nodiscard]] ImageCopy finish(const FetchResult& fetched, const ImageTarget& target, ImageMemory& memory);
    /// Drops the temporary file and the folders made for it.
    void abandon();

private:
    /// Drops what was made, keeping `why` (the system's reason) for the image's failure.
    Error<> fail(std::string why);

    /// The file already there whose bytes are those received, if any.
    std::optional<std::string> same_file(const ImageTarget& target, ImageMemory& memory) const;

    TemporaryFile file_;
    std::string head_;
    std::size_t size_ = 0;
    Sha256 sha_; ///< of the bytes received, so that comparing them reads no file twice
    bool failed_ = false;
    std::string error_;                 ///< why the disk refused the body, once it did
    std::string root_, tree_, address_; ///< of the place opened
    std::vector<std::string> created_;  ///< folders made for this image, shallowest first
};

/// Downloads one image and writes it under `destination`: 1 written, 0 not
/// written on purpose (present under policy 1, all version names taken, an
/// error page by status or content, an empty body, the image unchanged), -1
/// on a failure of the transfer or the disk, or an address that would lead
/// outside the destination. A layout other than tree_layout is flat. Never
/// writes outside the destination and never leaves a partial file. Under
/// policies 2 and 3 the fetch is conditional when `memory` knows the file,
/// and an image equal to the file (or one of its versions) is not written.
///
/// One image at a time, waiting for its fetch alone: a run copies its images
/// through ImageCopier, which fetches several side by side. This is the
/// reference that the tests and the fuzz targets hold the run's copies to,
/// and is reached from nowhere else.
[[nodiscard]] int copie_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                              int existing_policy, int layout, ImageMemory& memory);

/// copie_image, telling also why an image was not written. copie_image is the
/// original operation under its own name, with its 1 / 0 / -1 answer;
/// copy_image does the same copy and keeps the reason beside that answer,
/// for the run's failure counts. Both exist so that the plain answer stays
/// what it always was.
[[nodiscard]] ImageCopy copy_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                                   ExistingPolicy existing_policy, Layout layout, ImageMemory& memory);

/// The host-and-directories part of an address, ending in "/", or "".
/// "http://h/photos/2007/a.jpg" gives "h/photos/2007/".
std::string url_arbre(std::string_view address);

/// The text with every "/" turned into the system's separator, which on this
/// system is "/" itself.
std::string chemin_local(std::string_view text);

} // namespace m_qmr
