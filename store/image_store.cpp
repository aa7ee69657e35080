#include "store/image_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "net/address.h"
#include "net/internet_transfer.h"
#include "net/text.h"
#include "store/atomic_file.h"
#include "store/directories.h"
#include "store/error_text.h"

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
/// them. The deepest level reached, ending in "/"; nothing, with errno set,
/// when a level is no real folder or cannot be made.
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
            if (!S_ISDIR(info.st_mode)) {
                errno = ENOTDIR;
                return std::nullopt;
            }
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

/// A file name cut before its last ".", where a version's number goes.
std::pair<std::string_view, std::string_view> base_and_extension(std::string_view name) {
    const auto dot = name.rfind('.');
    return {name.substr(0, dot), dot == std::string_view::npos ? std::string_view{} : name.substr(dot)};
}

/// The first of name-v1, name-v2 … in `directory` that is free, the number
/// going before the name's last "." so that the extension stays; "" when all
/// are taken. Tried from 1 every time, so a gap is filled first.
std::string first_free_version(const std::string& directory, std::string_view name) {
    const auto [base, extension] = base_and_extension(name);
    std::string candidate;
    for (int n = 1; n <= max_version; ++n) {
        candidate.assign(directory).append(base).append("-v").append(std::to_string(n)).append(extension);
        if (!exists(candidate))
            return candidate;
    }
    return {};
}

/// True when `candidate` is name-vN, a version of the file `name`.
bool is_version_name(std::string_view candidate, std::string_view name) {
    const auto [base, extension] = base_and_extension(name);
    if (!candidate.starts_with(base) || !candidate.ends_with(extension) ||
        candidate.size() < base.size() + extension.size() + 3)
        return false;
    const auto number = candidate.substr(base.size(), candidate.size() - base.size() - extension.size());
    return number.starts_with("-v") && number[2] != '0' &&
           number.find_first_not_of("0123456789", 2) == std::string_view::npos;
}

/// True when `path` is the file `name` in `directory`, or one of its versions.
bool is_file_or_version(std::string_view path, std::string_view directory, std::string_view name) {
    if (!path.starts_with(directory))
        return false;
    path.remove_prefix(directory.size());
    return path.find('/') == std::string_view::npos && (path == name || is_version_name(path, name));
}

/// The versions of `name` in `directory`, gaps or not, by their paths.
std::vector<std::string> versions_present(const std::string& directory, std::string_view name) {
    std::vector<std::string> versions;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(directory.c_str()), ::closedir);
    if (!folder)
        return versions;
    while (const dirent* entry = ::readdir(folder.get()))
        if (is_version_name(entry->d_name, name))
            versions.push_back(directory + entry->d_name);
    return versions;
}

/// The size and modification time of a file as they are remembered; nothing
/// when it cannot be read.
std::optional<std::pair<std::int64_t, std::int64_t>> size_and_time(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return std::pair{static_cast<std::int64_t>(info.st_size),
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

/// True when the file is as it was left when it was remembered: nobody edited it since.
bool untouched(const RememberedImage& image) {
    return size_and_time(image.path) == std::pair{image.size, image.mtime_ns};
}

/// The target turned into leaving the image alone.
ImageTarget leave(ImageTarget target) {
    target.decision = ImageTarget::Decision::leave;
    target.path.clear();
    return target;
}

/// Takes its validators from the first image remembered that is still on
/// disk as it was left.
void make_conditional(ImageTarget& target, const std::vector<RememberedImage>& images) {
    for (const RememberedImage& image : images) {
        if (untouched(image)) {
            target.if_none_match = image.etag;
            target.if_modified_since = image.last_modified;
            return;
        }
    }
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

FetchRequest ImageTarget::request(const std::string& address, BodySink* sink) const {
    FetchRequest request(address, sink);
    request.if_none_match = if_none_match;
    request.if_modified_since = if_modified_since;
    return request;
}

ImageTarget choose_target(const ImagePlace& place, ExistingPolicy existing_policy, ImageMemory& memory) {
    ImageTarget target;
    const std::string directory = place.directory();
    target.path = directory + place.name;
    // A file that is not there is fetched whole and written, whatever was
    // remembered of it.
    if (!is_regular_file(target.path))
        return target;
    if (existing_policy == leave_existing)
        return leave(std::move(target));
    target.existing = target.path;
    if (existing_policy != new_version) {
        // Policy 2, and any value but 1 and 3, replaces the file: asked for
        // only if it changed, when this address wrote it.
        if (std::optional<RememberedImage> image = memory.recall(target.path); image && image->address == place.address)
            make_conditional(target, {*image});
        return target;
    }
    target.path = first_free_version(directory, place.name);
    if (target.path.empty())
        return leave(std::move(target));
    target.versions_too = true;
    // Asked for against the last of the file and its versions written from this address.
    std::vector<RememberedImage> written = memory.written_from(place.address);
    std::erase_if(written,
                  [&](const RememberedImage& image) { return !is_file_or_version(image.path, directory, place.name); });
    make_conditional(target, written);
    return target;
}

ImageDownload::~ImageDownload() {
    abandon();
}

Result<void> ImageDownload::open(const ImagePlace& place, bool make_destination) {
    abandon();
    root_ = place.root;
    tree_ = place.tree;
    // The destination itself is the user's choice and may be a link. It is
    // made before a run; only when it went missing since is it made here.
    if (!is_directory(root_)) {
        if (!make_destination)
            return fail(error_text(ENOENT));
        if (const Result<void> made = make_directories(root_, 0777, &created_); !made)
            return fail(made.error());
    }
    // No folder of the tree is made before the image is to be written: the
    // body waits in the deepest level that is there already.
    const std::optional<std::string> level = walk_tree(root_, tree_, nullptr);
    if (!level)
        return fail(error_text(errno));
    if (const Result<void> created = file_.create(*level + place.name, 0666); !created)
        return fail(created.error());
    address_ = place.address;
    head_.clear();
    size_ = 0;
    sha_.restart();
    failed_ = false;
    error_.clear();
    return {};
}

bool ImageDownload::write(std::string_view bytes) {
    if (head_.size() <= error_page_limit)
        head_.append(bytes.substr(0, error_page_limit + 1 - head_.size()));
    size_ += bytes.size();
    sha_.update(bytes);
    if (!file_.write(bytes) && !std::exchange(failed_, true))
        error_ = error_text(errno);
    return !failed_;
}

std::optional<std::string> ImageDownload::same_file(const ImageTarget& target, ImageMemory& memory) const {
    if (target.existing.empty())
        return std::nullopt;
    std::vector<std::string> files{target.existing};
    // Read only now that a body came: the directory of a flat destination may be large.
    if (target.versions_too) {
        const auto slash = target.existing.rfind('/') + 1;
        std::vector<std::string> versions =
            versions_present(target.existing.substr(0, slash), std::string_view(target.existing).substr(slash));
        files.insert(files.end(), versions.begin(), versions.end());
    }
    std::optional<std::string> received;
    for (const std::string& path : files) {
        // Sizes first: a file of another size is another image, unread.
        if (const auto file = size_and_time(path); !file || file->first != static_cast<std::int64_t>(size_))
            continue;
        if (!received)
            received = sha_.digest();
        // What was remembered of a file nobody touched since saves reading it.
        const std::optional<RememberedImage> image = memory.recall(path);
        const std::optional<std::string> digest =
            image && untouched(*image) && !image->digest.empty() ? image->digest : file_sha256(path);
        if (digest == received)
            return path;
    }
    return std::nullopt;
}

ImageCopy ImageDownload::finish(const FetchResult& fetched, const ImageTarget& target, ImageMemory& memory) {
    if (!fetched.ok) {
        abandon();
        return failed_ ? copy_disk_failure(error_) : copy_network_failure(fetched.error);
    }
    // Not modified: the file asked against holds what the server has.
    if (fetched.http_status == 304 && target.conditional()) {
        abandon();
        return copy_unchanged;
    }
    // An empty body would wipe a good image under "replace".
    if (fetched.http_status >= 400 || size_ == 0 || looks_like_error_page(head_, size_)) {
        abandon();
        return copy_refused_by_server(fetched.http_status);
    }
    RememberedImage image{{}, address_, fetched.etag, fetched.last_modified, 0, 0, sha_.digest()};
    // The same bytes as a file there already: that file stays as it is (its
    // time, its inode), and no version repeats it.
    if (std::optional<std::string> same = same_file(target, memory)) {
        abandon();
        image.path = std::move(*same);
        if (const auto file = size_and_time(image.path)) {
            std::tie(image.size, image.mtime_ns) = *file;
            memory.remember(image);
        }
        return copy_unchanged;
    }
    // Made only now, one level at a time, so that an earlier image has
    // decided whether a name is a file or a folder, and no folder stands empty
    // for an image that failed. A rename into a folder made under the one
    // that holds the body stays on its file system. No fsync: an image is
    // cheap to fetch again.
    if (!walk_tree(root_, tree_, &created_)) {
        const int error = errno;
        abandon();
        return copy_disk_failure(error_text(error));
    }
    if (const Result<void> committed = file_.commit(target.path, Durability::none); !committed) {
        abandon();
        return copy_disk_failure(committed.error());
    }
    created_.clear();
    image.path = target.path;
    if (const auto written = size_and_time(image.path)) {
        std::tie(image.size, image.mtime_ns) = *written;
        memory.remember(image);
    }
    return copy_written(target.path);
}

void ImageDownload::abandon() {
    file_.discard();
    // What was made for this image alone goes with it, deepest first.
    for (auto level = created_.rbegin(); level != created_.rend(); ++level)
        ::rmdir(level->c_str());
    created_.clear();
}

Error<> ImageDownload::fail(std::string why) {
    abandon();
    failed_ = true;
    error_ = why;
    return Error{std::move(why)};
}

ImageCopy copy_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                     ExistingPolicy existing_policy, Layout layout, ImageMemory& memory) {
    // Everything that could lead outside the destination is refused before
    // the first directory is made, so a refused address leaves no trace.
    const std::optional<ImagePlace> place = image_place(address, destination, layout);
    if (!place)
        return copy_disk_failure(no_place_text);
    const ImageTarget target = choose_target(*place, existing_policy, memory);
    if (target.decision == ImageTarget::Decision::leave)
        return copy_left_alone;
    ImageDownload download;
    if (const Result<void> opened = download.open(*place); !opened)
        return copy_disk_failure(opened.error());
    const FetchResult fetched = transfer.fetch_bytes(target.request(place->address, &download));
    return download.finish(fetched, target, memory);
}

int copie_image(InternetTransfer& transfer, std::string_view address, std::string_view destination, int existing_policy,
                int layout, ImageMemory& memory) {
    return copy_image(transfer, address, destination, static_cast<ExistingPolicy>(existing_policy),
                      static_cast<Layout>(layout), memory)
        .result;
}

} // namespace m_qmr
