#pragma once

#include <QIcon>

/// The program's icon, a pale blue folder with a globe in front of it, for the
/// window and the tray. Every size it ships (16 to 256 pixels) is a PNG
/// rendered at build time, so no SVG reader is needed at run time.
QIcon app_icon();
