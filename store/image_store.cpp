#include "store/image_store.h"

#include <string>
#include <sys/stat.h>

#include "net/address.h"
#include "net/internet_transfer.h"
#include "net/text.h"
#include "store/atomic_file.h"

namespace m_qmr {
namespace {

constexpr int max_version = 30000;
// Servers' error pages are short; only bodies up to this size are searched.
constexpr std::size_t error_page_limit = 1025;

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_regular_file(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

/// True when walking the "/"-separated segments of `relative` from a
/// directory never climbs above that directory.
bool stays_inside(std::string_view relative) {
    int depth = 0;
    std::size_t start = 0;
    while (start < relative.size()) {
        auto end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        const auto segment = relative.substr(start, end - start);
        if (segment == "..") {
            if (--depth < 0)
                return false;
        } else if (!segment.empty() && segment != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

/// Creates, one level at a time from the left (the host before its
/// directories under the tree layout), every level of `directory` (ending in
/// "/") that names nothing yet. False when a creation fails.
bool make_directory_path(const std::string& directory) {
    std::string level;
    for (auto slash = directory.find('/', 1); slash != std::string::npos; slash = directory.find('/', slash + 1)) {
        level.assign(directory, 0, slash);
        if (!exists(level) && ::mkdir(level.c_str(), 0777) != 0)
            return false;
    }
    return true;
}

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// True for a short body holding "404", "405" or "html" in any case: what a
/// server sends instead of the image.
bool looks_like_error_page(std::string_view body) {
    if (body.size() > error_page_limit)
        return false;
    for (auto at = body.find("40"); at != std::string_view::npos && at + 2 < body.size(); at = body.find("40", at + 1))
        if (body[at + 2] == '4' || body[at + 2] == '5')
            return true;
    for (std::size_t at = 0; at + 4 <= body.size(); ++at)
        if (ascii_lower(body[at]) == 'h' && ascii_lower(body[at + 1]) == 't' && ascii_lower(body[at + 2]) == 'm' &&
            ascii_lower(body[at + 3]) == 'l')
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

int copie_image(InternetTransfer& transfer, std::string_view address, std::string_view destination, int existing_policy,
                int layout) {
    return copy_image(transfer, address, destination, existing_policy, layout).result;
}

ImageCopy copy_image(InternetTransfer& transfer, std::string_view address, std::string_view destination,
                     int existing_policy, int layout) {
    constexpr ImageCopy written{image_written, CopyFailure::none};
    constexpr ImageCopy left_alone{image_not_written, CopyFailure::none};
    constexpr ImageCopy refused_by_server{image_not_written, CopyFailure::server};
    constexpr ImageCopy network_failure{image_failed, CopyFailure::network};
    constexpr ImageCopy disk_failure{image_failed, CopyFailure::disk};
    // An empty destination would mean the file-system root.
    if (trim_spaces_view(destination).empty() || destination.find('\0') != std::string_view::npos)
        return disk_failure;
    const std::string a = trim_spaces(address);
    std::string directory(destination);
    if (directory.back() != '/')
        directory += '/';

    // Everything that could lead outside the destination is refused before
    // the first directory is made, so a refused address leaves no trace.
    // A NUL would silently cut the path that the system sees.
    const std::string name = url_nom_fichier(a);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
        return disk_failure;
    std::string tree;
    if (layout == tree_layout) {
        tree = chemin_local(url_arbre(a));
        if (tree.find('\0') != std::string::npos || !stays_inside(tree))
            return disk_failure;
    }
    // Any other layout value is taken as flat: the destination itself.

    // Usually every directory is there already: one stat instead of one per
    // level. A destination that is missing (a fresh folder, a scheduled run
    // after a clean-up) is created, as any directory is when first needed.
    directory += tree;
    if (!is_directory(directory) && !make_directory_path(directory))
        return disk_failure;

    std::string path = directory + name;
    if (is_regular_file(path)) {
        if (existing_policy == leave_existing)
            return left_alone;
        if (existing_policy == new_version) {
            path = first_free_version(directory, name);
            if (path.empty())
                return left_alone;
        }
    }

    const FetchResult fetched = transfer.fetch_bytes(a);
    if (!fetched.ok)
        return network_failure;
    // An empty body would wipe a good image under "replace".
    if (fetched.http_status >= 400 || fetched.body.empty() || looks_like_error_page(fetched.body))
        return refused_by_server;
    // Through a temporary file: no partial image ever carries the name, and a
    // replaced image is swapped in one step. No fsync: an image is cheap to fetch again.
    return write_file_atomically(path, fetched.body, Durability::none).empty() ? written : disk_failure;
}

} // namespace m_qmr
