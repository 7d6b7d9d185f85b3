#pragma once

#include <QString>

// Path of the configuration file: "config.ini" beside the executable, or in
// `userConfigDir` when there is none and the executable's folder cannot be
// written.
QString configFilePath(const QString &executableDir, const QString &userConfigDir);
