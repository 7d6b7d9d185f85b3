#include "ConfigLocation.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSettings, "benchtest.settings")

namespace {

// A file already beside the executable is the lab's configuration even when it
// is read-only (its addresses are read, edits are not kept); without one, the
// folder must take a new file.
bool useExecutableDir(const QString &dir)
{
    return QFileInfo::exists(dir + QStringLiteral("/config.ini")) || QFileInfo(dir).isWritable();
}

} // namespace

QString configFilePath(const QString &executableDir, const QString &userConfigDir)
{
    if (useExecutableDir(executableDir))
        return executableDir + QStringLiteral("/config.ini");

    QDir().mkpath(userConfigDir);
    const QString path = userConfigDir + QStringLiteral("/config.ini");
    qCDebug(lcSettings)
        << QStringLiteral("UI: %1 is read-only, addresses are kept in %2").arg(executableDir, path);
    return path;
}
