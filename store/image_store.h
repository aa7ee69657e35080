#pragma once

#include <string>
#include <string_view>

class InternetTransfer;

/// What to do with an image whose file is already there.
enum ExistingPolicy : int { leave_existing = 1, replace_existing = 2, new_version = 3 };

/// Where images go under the destination.
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

/// Downloads one image and writes it under `destination`: 1 written, 0 not
/// written on purpose (present under policy 1, all version names taken, an
/// error page by status or content, an empty body), -1 on a failure of the
/// transfer or the disk, or an address that would lead outside the
/// destination. A layout other than tree_layout is flat. Never writes
/// outside the destination and never leaves a partial file.
int copie_image(InternetTransfer& transfer, std::string_view address, std::string_view destination, int existing_policy,
                int layout);

/// copie_image, telling also why an image was not written.
ImageCopy copy_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                     int existing_policy, int layout);

/// The host-and-directories part of an address, ending in "/", or "".
/// "http://h/photos/2007/a.jpg" gives "h/photos/2007/".
std::string url_arbre(std::string_view address);

/// The text with every "/" turned into the system's separator, which on this
/// system is "/" itself.
std::string chemin_local(std::string_view text);

} // namespace m_qmr
