#pragma once

/// Opens the main window on the data folder and serves it until the program
/// ends; returns the exit status. Needs a display.
[[nodiscard]] int run_window(int& argc, char** argv);
