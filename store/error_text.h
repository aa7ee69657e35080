#pragma once

#include <string>

/// What a system error number means, in French for the common cases that a
/// user can act on (permissions, full disk, missing folder), else the
/// system's own text.
std::string error_text(int error_number);
