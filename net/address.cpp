#include "net/address.h"

#include "net/text.h"

#include <algorithm>

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

bool dans_liste(std::string_view text, const std::vector<std::string>& list, int count) {
    // Slot 0 is never read; a count beyond the slots stops at the last one.
    const auto last =
        std::min<std::size_t>(count > 0 ? static_cast<std::size_t>(count) : 0, list.empty() ? 0 : list.size() - 1);
    for (std::size_t i = 1; i <= last; ++i)
        if (list[i] == text)
            return true;
    return false;
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

} // namespace m_qmr
