#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

/// One row of the include or exclude patterns: a name pattern with "*" and
/// "?", and an extension among extension_choices.
struct PatternPair {
    std::string name;
    std::string extension = "*";
};

/// The four rows of one pattern list.
using PatternSet = std::array<PatternPair, 4>;

/// The extension list's items, in list order: the first four always, the
/// others only while every image format is taken. Every item but "*" is also
/// an extension that names an image, so "*" means every format taken.
inline constexpr std::array<std::string_view, 8> extension_choices{"*",   "gif",  "jpg",  "jpeg",
                                                                   "png", "webp", "avif", "svg"};

/// How many of extension_choices the lists offer.
constexpr std::size_t extension_choice_count(bool all_image_formats) {
    return all_image_formats ? extension_choices.size() : 4;
}

// The French names (filtre_nom, correspond_motif, index_extension) are the
// program's original rules, kept under their own names; check_name_pattern
// and extension_choices were added around them for the form's boxes and lists.
namespace m_qmr {

/// True when an image with this file name is to be taken: no active exclude
/// row matches it, and either no include row is active or one matches it.
bool filtre_nom(std::string_view file_name, const PatternSet& include_patterns, const PatternSet& exclude_patterns);

/// True when both the name part and the extension match the row. The name
/// is matched in one left-to-right pass: a "*" jumps to the first place where
/// the following literal occurs and is never retried.
bool correspond_motif(std::string_view name, std::string_view extension, const PatternPair& pair);

/// The list position of a stored extension: 0 "*", 1 "gif", 2 "jpg",
/// 3 "jpeg", and with all_image_formats 4 "png" to 7 "svg" (spaces around
/// ignored); anything else gives 0.
int index_extension(std::string_view extension, bool all_image_formats = false);

/// The messages that a name pattern typed in a box deserves, in order; empty
/// when it is acceptable. The caller stores the trimmed text whatever they say
/// and keeps the focus on the box when there is at least one.
std::vector<std::string> check_name_pattern(std::string_view typed);

} // namespace m_qmr
