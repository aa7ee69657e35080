#pragma once

#include <string>
#include <string_view>

/// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

/// The UTF-8 text of bytes in the Windows-1252 code page.
std::string windows1252_to_utf8(std::string_view bytes);
