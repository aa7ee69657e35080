#pragma once

#include <string>
#include <string_view>

// Address helpers: plain text rules that take addresses and references apart
// and put them together. No parsing beyond what each rule states, no network,
// no disk.
//
// The French names (url_racine, url_absolue, autre_site...) are the program's
// original rules, kept under their own names with their exact results: the
// crawl decides with them which pages and images belong to a site. The
// English ones (encoded_address, without_dot_segments) came later for the
// transfer and the image's place: what goes on the wire, and where "./" and
// "../" lead. Neither family replaces the other.
namespace m_qmr {

/// The address's directory, ending in "/", or "" when it has none.
/// "http://host/a/b.html" gives "http://host/a/"; a last segment without a
/// final "/" counts as a file name.
std::string url_repertoire(std::string_view address);

/// The site root (scheme, user information, host and port as written),
/// ending in "/", or "" when the address has no "//" or is shorter than 7.
std::string url_racine(std::string_view address);

/// What follows the last "/" of the text, then what follows the first ":"
/// of that part, if any.
std::string url_nom_fichier(std::string_view text);

/// The absolute address of a reference found on the page at `base`, trimmed,
/// or "" when it cannot be made. "../" groups that would climb above the site
/// root stop at the root, and a reference starting with "//" takes the base's
/// scheme.
std::string url_absolue(std::string_view base, std::string_view reference);

/// True when the two addresses do not share the same site root, or either has
/// none.
bool autre_site(std::string_view a, std::string_view b);

/// The text with every carriage return and line feed removed.
std::string sans_fin_ligne(std::string_view text);

/// The address without its query and fragment: what comes before its first
/// "?" or "#". "http://h/photo.jpg?w=1200" gives "http://h/photo.jpg".
std::string_view without_query(std::string_view address);

/// The address as it may go on the wire: after the host, spaces, control
/// bytes, bytes outside ASCII, a "%" that starts no escape and the few
/// characters no address may hold (" < > \ ^ ` { | }) are percent-encoded.
/// Existing %XX escapes and reserved characters stay, so encoding twice
/// changes nothing. The host is left as written.
std::string encoded_address(std::string_view address);

/// The address with the "." and ".." segments of its path resolved, as an
/// address resolver does; ".." never climbs above the site root. The query
/// and anything before the path stay as written.
std::string without_dot_segments(std::string_view address);

} // namespace m_qmr
