#include "store/image_store.h"

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "net/address.h"
#include "net/internet_transfer.h"
#include "net/text.h"
#include "store/atomic_file.h"
#include "store/directories.h"

namespace m_qmr {
namespace {

constexpr int max_version = 30000;
// Servers' error pages are short; only bodies up to this size are searched.
constexpr std::size_t error_page_limit = 1025;

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool is_regular_file(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

/// The folders that walking the "/"-separated segments of `relative` from a
/// directory goes through, in order, each followed by "/": "." and empty
/// segments left out, and each ".." taking the folder before it away. Nothing
/// when a ".." would climb above that directory. Made from these, the tree
/// holds no folder that the image does not end up in.
std::optional<std::string> folders_inside(std::string_view relative) {
    std::vector<std::string_view> folders;
    for (std::size_t start = 0; start < relative.size();) {
        const auto end = std::min(relative.find('/', start), relative.size());
        const auto segment = relative.substr(start, end - start);
        if (segment == "..") {
            if (folders.empty())
                return std::nullopt;
            folders.pop_back();
        } else if (!segment.empty() && segment != ".") {
            folders.push_back(segment);
        }
        start = end + 1;
    }
    std::string tree;
    for (const auto folder : folders)
        tree.append(folder).append("/");
    return tree;
}

/// Walks down the levels of `tree` under `root`. Every level there must be a
/// real folder, checked with lstat so that a link planted in the tree cannot
/// lead the image out of the destination. Without `made`, stops at the first
/// level that is missing; with it, makes that level and those below, listing
/// them. The deepest level reached, ending in "/"; nothing when a level is no
/// real folder or cannot be made.
std::optional<std::string> walk_tree(const std::string& root, const std::string& tree, std::vector<std::string>* made) {
    std::string level = root;
    for (std::size_t start = 0; start < tree.size();) {
        const auto slash = tree.find('/', start);
        const std::size_t reached = level.size();
        level.append(tree, start, slash + 1 - start);
        start = slash + 1;
        // Without its final "/", which would make lstat follow a link.
        const std::string entry = level.substr(0, level.size() - 1);
        struct stat info;
        if (::lstat(entry.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode))
                return std::nullopt;
        } else if (!made) {
            level.resize(reached);
            break;
        } else if (::mkdir(entry.c_str(), 0777) == 0) {
            made->push_back(entry);
        } else {
            return std::nullopt;
        }
    }
    return level;
}

/// True for a short body holding "404", "405" or "html" in any case: what a
/// server sends instead of the image. `head` holds the first bytes of a body
/// of `size` bytes.
bool looks_like_error_page(std::string_view body, std::size_t size) {
    if (size > error_page_limit)
        return false;
    for (auto at = body.find("40"); at != std::string_view::npos && at + 2 < body.size(); at = body.find("40", at + 1))
        if (body[at + 2] == '4' || body[at + 2] == '5')
            return true;
    for (std::size_t at = 0; at + 4 <= body.size(); ++at)
        if (lower_ascii(body[at]) == 'h' && lower_ascii(body[at + 1]) == 't' && lower_ascii(body[at + 2]) == 'm' &&
            lower_ascii(body[at + 3]) == 'l')
            return true;
    return false;
}

/// The first of name-v1, name-v2 … in `directory` that is free, the number
/// going before the name's last "." so that the extension stays; "" when all
/// are taken. Tried from 1 every time, so a gap is filled first.
std::string first_free_version(const std::string& directory, std::string_view name) {
    const auto dot = name.rfind('.');
    const auto base = name.substr(0, dot);
    const auto extension = dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
    std::string candidate;
    for (int n = 1; n <= max_version; ++n) {
        candidate.assign(directory).append(base).append("-v").append(std::to_string(n)).append(extension);
        if (!exists(candidate))
            return candidate;
    }
    return {};
}

} // namespace

std::string url_arbre(std::string_view address) {
    const auto p = address.find("//");
    if (p == std::string_view::npos || address.find('/', p + 2) == std::string_view::npos)
        return {};
    const auto q = address.rfind('/');
    return std::string(address.substr(p + 2, q - (p + 2) + 1));
}

std::string chemin_local(std::string_view text) {
    return std::string(text);
}

std::optional<ImagePlace> image_place(std::string_view address, std::string_view destination, Layout layout,
                                      bool all_image_formats) {
    // A relative destination would land in whatever folder the program was
    // started from. A NUL would silently cut the path that the system sees.
    if (!destination.starts_with('/') || destination.find('\0') != std::string_view::npos ||
        address.find('\0') != std::string_view::npos)
        return std::nullopt;
    ImagePlace place;
    // The address as a resolver would fetch it: "a/../b" is "b", and ".."
    // never climbs above the site, so that the tree stays under the host.
    place.address = without_dot_segments(trim_spaces(address));
    place.root.assign(destination);
    if (place.root.back() != '/')
        place.root += '/';
    const std::string_view named = all_image_formats ? without_query(place.address) : place.address;
    place.name = url_nom_fichier(named);
    if (place.name.empty() || place.name == "." || place.name == "..")
        return std::nullopt;
    // Any layout but the tree is taken as flat: the destination itself.
    if (layout == tree_layout) {
        // The address's path has no dot segments left, but its query may.
        auto folders = folders_inside(chemin_local(url_arbre(named)));
        if (!folders)
            return std::nullopt;
        place.tree = std::move(*folders);
    }
    return place;
}

std::string ImagePlace::directory() const {
    return root + tree;
}

ImageTarget choose_target(const ImagePlace& place, ExistingPolicy existing_policy) {
    std::string path = place.directory() + place.name;
    if (!is_regular_file(path))
        return {ImageTarget::Decision::fetch, std::move(path)};
    if (existing_policy == leave_existing)
        return {ImageTarget::Decision::leave, {}};
    if (existing_policy == new_version) {
        path = first_free_version(place.directory(), place.name);
        if (path.empty())
            return {ImageTarget::Decision::leave, {}};
    }
    // Policy 2, and any value but 1 and 3, replaces the file.
    return {ImageTarget::Decision::fetch, std::move(path)};
}

ImageDownload::~ImageDownload() {
    abandon();
}

bool ImageDownload::open(const ImagePlace& place, bool make_destination) {
    abandon();
    root_ = place.root;
    tree_ = place.tree;
    // The destination itself is the user's choice and may be a link. It is
    // made before a run; only when it went missing since is it made here.
    if (!is_directory(root_) && (!make_destination || !make_directories(root_, 0777, &created_)))
        return fail();
    // No folder of the tree is made before the image is to be written: the
    // body waits in the deepest level that is there already.
    const std::optional<std::string> level = walk_tree(root_, tree_, nullptr);
    if (!level || !file_.create(*level + place.name, 0666))
        return fail();
    head_.clear();
    size_ = 0;
    failed_ = false;
    return true;
}

bool ImageDownload::write(std::string_view bytes) {
    if (head_.size() <= error_page_limit)
        head_.append(bytes.substr(0, error_page_limit + 1 - head_.size()));
    size_ += bytes.size();
    if (!file_.write(bytes))
        failed_ = true;
    return !failed_;
}

ImageCopy ImageDownload::finish(const FetchResult& fetched, const std::string& path) {
    if (!fetched.ok) {
        abandon();
        return failed_ ? copy_disk_failure : copy_network_failure;
    }
    // An empty body would wipe a good image under "replace".
    if (fetched.http_status >= 400 || size_ == 0 || looks_like_error_page(head_, size_)) {
        abandon();
        return copy_refused_by_server;
    }
    // Made only now, one level at a time, so that an earlier image has
    // decided whether a name is a file or a folder, and no folder stands empty
    // for an image that failed. A rename into a folder made under the one
    // that holds the body stays on its file system. No fsync: an image is
    // cheap to fetch again.
    if (!walk_tree(root_, tree_, &created_) || !file_.commit(path, Durability::none)) {
        abandon();
        return copy_disk_failure;
    }
    created_.clear();
    return copy_written;
}

void ImageDownload::abandon() {
    file_.discard();
    // What was made for this image alone goes with it, deepest first.
    for (auto level = created_.rbegin(); level != created_.rend(); ++level)
        ::rmdir(level->c_str());
    created_.clear();
}

bool ImageDownload::fail() {
    abandon();
    failed_ = true;
    return false;
}

ImageCopy copy_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                     ExistingPolicy existing_policy, Layout layout) {
    // Everything that could lead outside the destination is refused before
    // the first directory is made, so a refused address leaves no trace.
    const std::optional<ImagePlace> place = image_place(address, destination, layout);
    if (!place)
        return copy_disk_failure;
    const ImageTarget target = choose_target(*place, existing_policy);
    if (target.decision == ImageTarget::Decision::leave)
        return copy_left_alone;
    ImageDownload download;
    if (!download.open(*place))
        return copy_disk_failure;
    const FetchResult fetched = transfer.fetch_bytes(place->address, download);
    return download.finish(fetched, target.path);
}

int copie_image(InternetTransfer& transfer, std::string_view address, std::string_view destination, int existing_policy,
                int layout) {
    return copy_image(transfer, address, destination, static_cast<ExistingPolicy>(existing_policy),
                      static_cast<Layout>(layout))
        .result;
}

} // namespace m_qmr
