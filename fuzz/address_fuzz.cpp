// The address helpers and the encoding of addresses, over any base and any
// reference: the input is the base, a line feed, then the reference.

#include "fuzz_support.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "net/address.h"
#include "net/text.h"

namespace {

using namespace m_qmr;

bool must_be_escaped(unsigned char c) {
    return c <= 0x20 || c >= 0x7F ||
           std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/// Where the path begins: the first "/", "?" or "#" after the first "//";
/// the end when there is none.
std::size_t path_start(std::string_view address) {
    const auto slashes = address.find("//");
    if (slashes == std::string_view::npos)
        return address.size();
    return std::min(address.find_first_of("/?#", slashes + 2), address.size());
}

/// Where the query or the fragment begins, at or after `from`; the end when there is none.
std::size_t query_start(std::string_view address, std::size_t from) {
    return std::min(address.find_first_of("?#", from), address.size());
}

void check_encoding(const std::string& address) {
    const std::string encoded = encoded_address(address);
    const std::size_t start = path_start(address);
    fuzz::require(encoded.compare(0, start, address, 0, start) == 0, "encoding keeps the host part", encoded);
    for (std::size_t i = start; i < encoded.size(); ++i) {
        fuzz::require(!must_be_escaped(static_cast<unsigned char>(encoded[i])), "an encoded address is clean", encoded);
        if (encoded[i] == '%')
            fuzz::require(i + 2 < encoded.size() && is_hex_digit(encoded[i + 1]) && is_hex_digit(encoded[i + 2]),
                          "every % of an encoded address starts an escape", encoded);
    }
    fuzz::require(encoded_address(encoded) == encoded, "encoding twice changes nothing", encoded);
}

void check_dot_segments(const std::string& address) {
    const std::string resolved = without_dot_segments(address);
    const std::size_t start = path_start(address);
    fuzz::require(resolved.compare(0, start, address, 0, start) == 0, "resolving keeps what precedes the path",
                  resolved);
    fuzz::require(without_dot_segments(resolved) == resolved, "resolving twice changes nothing", resolved);
    if (start == address.size() || address[start] != '/')
        return;
    const std::size_t end = query_start(resolved, start);
    fuzz::require(std::string_view(resolved).substr(end) ==
                      std::string_view(address).substr(query_start(address, start)),
                  "the query stays as written", resolved);
    const std::string_view path = std::string_view(resolved).substr(start, end - start);
    fuzz::require(path.starts_with('/'), "a resolved path starts with /", resolved);
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t next = std::min(path.find('/', at + 1), path.size());
        const std::string_view segment = path.substr(at + 1, next - at - 1);
        fuzz::require(segment != "." && segment != "..", "no dot segment is left", resolved);
        at = next;
    }
}

bool ends_in_its_scheme_slashes(std::string_view address) {
    return address.size() >= 2 && address.find("//") == address.size() - 2;
}

void check_parts(const std::string& address) {
    const std::string root = url_racine(address);
    const std::string directory = url_repertoire(address);
    fuzz::require(root.empty() || root.back() == '/', "a site root ends in /", root);
    fuzz::require(directory.empty() || directory.back() == '/', "a directory ends in /", directory);
    fuzz::require(root.empty() || (address + "/").starts_with(root), "a site root begins the address", root);
    // An address that ends in its "//" is a directory of its own, and has a root longer than itself.
    if (!ends_in_its_scheme_slashes(address))
        fuzz::require(root.empty() || directory.starts_with(root), "a directory begins with its site root", directory);
    fuzz::require(url_nom_fichier(address).find('/') == std::string::npos, "a file name holds no /", address);
    fuzz::require(autre_site(address, address) == root.empty(), "an address is on its own site", address);
}

void check_joining(const std::string& base, const std::string& reference) {
    const std::string absolute = url_absolue(base, reference);
    fuzz::require(absolute == trim_spaces(absolute), "an absolute address is trimmed", absolute);
    if (reference.starts_with("http://") || reference.starts_with("https://")) {
        fuzz::require(absolute == trim_spaces(reference), "an absolute reference is kept", absolute);
        return;
    }
    fuzz::require(absolute.empty() == url_racine(base).empty(), "a relative reference is joined to any site", absolute);
    // Relative references, ".." included, stay on the page's site; a
    // reference starting with "//" names a site of its own.
    if (!reference.starts_with("//") && !base.starts_with(' ') && !ends_in_its_scheme_slashes(base) &&
        absolute.size() >= 7)
        fuzz::require(!autre_site(base, absolute), "a relative reference stays on the site", absolute);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::fields(fuzz::as_text(data, size), '\n', 2);
    const std::string base(parts[0]);
    const std::string reference(parts[1]);
    check_joining(base, reference);
    for (const std::string& address : {base, reference, url_absolue(base, reference)}) {
        check_parts(address);
        check_encoding(address);
        check_dot_segments(address);
    }
    return 0;
}
