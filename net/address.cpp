#include "net/address.h"

#include "net/text.h"

#include <algorithm>
#include <vector>

namespace m_qmr {

namespace {

// Anything shorter cannot hold a scheme, "//" and a host.
constexpr std::size_t shortest_address = 7;

std::string joined_trimmed(std::string_view head, std::string_view tail) {
    std::string whole;
    whole.reserve(head.size() + tail.size());
    whole.append(head).append(tail);
    return trim_spaces(whole);
}

// Each leading "../" drops the last segment of dir, but never the site root
// itself: extra groups are ignored there, as browsers do.
std::string climbed(std::string_view root, std::string_view dir, std::string_view reference) {
    std::size_t groups = 0;
    while (reference.substr(3 * groups, 3) == "../")
        ++groups;
    std::string_view kept = dir;
    // dir starts with root and both end in "/", so a "/" is always found
    // before the last character while kept is longer than root.
    for (std::size_t i = 0; i < groups && kept.size() > root.size(); ++i)
        kept = kept.substr(0, kept.rfind('/', kept.size() - 2) + 1);
    return joined_trimmed(kept, reference.substr(3 * groups));
}

} // namespace

std::string url_repertoire(std::string_view address) {
    if (address.size() < shortest_address)
        return {};
    if (address.back() == '/')
        return std::string(address);
    const auto scheme_slashes = address.find("//");
    if (scheme_slashes == std::string_view::npos)
        return {};
    const auto last_slash = address.rfind('/');
    if (last_slash == scheme_slashes + 1)
        return std::string(address) + '/';
    return std::string(address.substr(0, last_slash + 1));
}

std::string url_racine(std::string_view address) {
    if (address.size() < shortest_address)
        return {};
    const auto scheme_slashes = address.find("//");
    if (scheme_slashes == std::string_view::npos)
        return {};
    const auto host_end = address.find('/', scheme_slashes + 2);
    if (host_end == std::string_view::npos)
        return std::string(address) + '/';
    return std::string(address.substr(0, host_end + 1));
}

std::string url_nom_fichier(std::string_view text) {
    const auto last_slash = text.rfind('/');
    auto part = last_slash == std::string_view::npos ? text : text.substr(last_slash + 1);
    const auto colon = part.find(':');
    if (colon != std::string_view::npos)
        part = part.substr(colon + 1);
    return std::string(part);
}

std::string url_absolue(std::string_view base, std::string_view reference) {
    // Case-sensitive on purpose: "HTTP://" is taken for a relative path.
    if (reference.starts_with("http://") || reference.starts_with("https://"))
        return trim_spaces(reference);
    const auto root = url_racine(base);
    const auto dir = url_repertoire(base);
    if (root.empty() || dir.empty())
        return {};
    if (reference.starts_with("../"))
        return climbed(root, dir, reference);
    if (reference.starts_with("./"))
        return joined_trimmed(dir, reference.substr(2));
    if (reference.starts_with("//")) // scheme-relative: keep the base's "http:" or "https:"
        return joined_trimmed(base.substr(0, base.find("//")), reference);
    if (reference.starts_with("/"))
        return joined_trimmed(root, reference.substr(1));
    return joined_trimmed(dir, reference);
}

bool autre_site(std::string_view a, std::string_view b) {
    const auto root_a = url_racine(a);
    const auto root_b = url_racine(b);
    return root_a.empty() || root_b.empty() || root_a != root_b;
}

std::string sans_fin_ligne(std::string_view text) {
    if (text.find_first_of("\r\n") == std::string_view::npos)
        return std::string(text);
    std::string result;
    result.reserve(text.size());
    for (const char c : text)
        if (c != '\r' && c != '\n')
            result += c;
    return result;
}

std::string_view without_query(std::string_view address) {
    return address.substr(0, address.find_first_of("?#"));
}

namespace {

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool must_be_escaped(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F)
        return true;
    return std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos;
}

/// Where the path of an absolute address begins: the first "/" after its
/// "//"; npos when there is no path.
std::size_t path_start(std::string_view address) {
    const auto scheme_slashes = address.find("//");
    if (scheme_slashes == std::string_view::npos)
        return std::string_view::npos;
    return address.find_first_of("/?#", scheme_slashes + 2);
}

} // namespace

std::string encoded_address(std::string_view address) {
    static constexpr char hex[] = "0123456789ABCDEF";
    const std::size_t from = std::min(path_start(address), address.size());
    std::string result(address.substr(0, from));
    result.reserve(address.size());
    for (std::size_t i = from; i < address.size(); ++i) {
        const auto c = static_cast<unsigned char>(address[i]);
        const bool escape_already =
            c == '%' && i + 2 < address.size() && is_hex_digit(address[i + 1]) && is_hex_digit(address[i + 2]);
        if ((c == '%' && !escape_already) || must_be_escaped(c)) {
            result += '%';
            result += hex[c >> 4];
            result += hex[c & 0x0F];
        } else {
            result += static_cast<char>(c);
        }
    }
    return result;
}

std::string without_dot_segments(std::string_view address) {
    const std::size_t start = path_start(address);
    if (start == std::string_view::npos || address[start] != '/')
        return std::string(address);
    const std::size_t end = std::min(address.find_first_of("?#", start), address.size());
    const std::string_view path = address.substr(start, end - start);

    // Segments after the leading "/"; a path ending in "/", "/." or "/.."
    // names a directory and keeps its final "/".
    std::vector<std::string_view> kept;
    bool directory = false;
    std::size_t at = 1;
    for (;;) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        const std::string_view segment = path.substr(at, slash - at);
        const bool last = slash == path.size();
        if (segment == "..") {
            if (!kept.empty())
                kept.pop_back();
            directory = last;
        } else if (segment == ".") {
            directory = last;
        } else {
            kept.push_back(segment);
            directory = false;
        }
        if (last)
            break;
        at = slash + 1;
    }
    std::string result(address.substr(0, start));
    for (const auto segment : kept)
        result.append("/").append(segment);
    if (kept.empty() || directory)
        result += '/';
    result.append(address.substr(end));
    return result;
}

} // namespace m_qmr
