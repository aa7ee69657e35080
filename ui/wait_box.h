#pragma once

#include <chrono>
#include <functional>

#include <QString>

/// Tries `attempt`; while it fails, shows `text` in a box titled "Quillmoor"
/// with one button, "Quitter", and tries again every `interval`. True once an
/// attempt succeeded (the box is then gone); false when the user gave up, or
/// when the box was ended from outside (QCoreApplication::exit).
bool wait_with_message(const QString& text, const std::function<bool()>& attempt, std::chrono::milliseconds interval);
