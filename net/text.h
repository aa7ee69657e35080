#pragma once

#include <string>
#include <string_view>

namespace m_qmr {

/// The letter in lower case, for the ASCII letters only: what a page or a
/// file name holds beyond them is compared as it is.
inline char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// The text without its leading and trailing spaces. Only the space character
/// counts: tabs and line breaks stay, as the stored formats expect.
inline std::string_view trim_spaces_view(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

inline std::string trim_spaces(std::string_view text) {
    return std::string(trim_spaces_view(text));
}

} // namespace m_qmr
