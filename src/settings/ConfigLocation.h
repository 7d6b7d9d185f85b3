#pragma once

#include <QString>

// The tool's names, set once: its per-user folders are named after them, so
// the window and the runner find the same configuration whatever each
// program is called.
namespace AppNames {
inline constexpr char organisation[] = "benchtest";
inline constexpr char application[] = "benchtest";
// Gives the running program these names (organisation and application).
void apply();
} // namespace AppNames

// A configuration file of its own for one start of the window or the runner
// (a demo, a test): used as it is, wherever it is.
inline constexpr char kConfigFileVariable[] = "BENCHTEST_CONFIG";

// Path of the configuration file: "config.ini" beside the executable, or in
// `userConfigDir` when there is none and the executable's folder cannot be
// written or is `installedProgramDir`, where the package puts the programs.
// Creates nothing.
QString configFilePath(const QString &executableDir, const QString &userConfigDir,
                       const QString &installedProgramDir);

// The tool's folder in the user's configuration folder.
QString userConfigDir();

// The file the running program reads: $BENCHTEST_CONFIG when set, else the
// rule above for the program's own folder and userConfigDir().
QString programConfigFile();

// Why `path` cannot serve as the configuration file, or an empty string when
// it can: a regular file (through links), or nothing there yet. A FIFO, a
// device, a folder or a socket is refused before anything opens it, so that
// reading cannot block and writing never replaces it. Looks without opening.
QString configFileProblem(const QString &path);

// programConfigFile() when it can serve, else an empty string: for the
// readers, which then read nothing (QSettings on an empty name reads nothing).
QString usableProgramConfigFile();
