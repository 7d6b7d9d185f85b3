#pragma once

#include <optional>

// The window's command line, read before the application object exists so
// that --help, --version and a bad option are answered without a display.
// Qt's own window-system options (-platform, -style, ...) are let through
// for QApplication. Returns the exit status when the program is to end here.
std::optional<int> handleWindowCommandLine(int argc, char **argv);
