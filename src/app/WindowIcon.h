#pragma once

#include <QIcon>

// The window's icon: the file at the path the window has always looked at
// when there is one, else "benchtest" from the icon theme that the package
// installs (also beside an installation outside the system folders), else the
// copy built into the program.
QIcon windowIconForInstall();
