#include "settings/ConfigLocation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcSettings, "benchtest.settings")

namespace {

// A file already beside the executable is the lab's configuration even when it
// is read-only (its addresses are read, edits are not kept); without one, the
// folder must take a new file. The folder the package installs the programs to
// never gets one, not even from root: that would be a file no package owns in
// /usr/bin.
bool useExecutableDir(const QString &dir, const QString &installedProgramDir)
{
    if (QFileInfo::exists(dir + QStringLiteral("/config.ini")))
        return true;
    if (QDir::cleanPath(dir) == QDir::cleanPath(installedProgramDir))
        return false;
    return QFileInfo(dir).isWritable();
}

} // namespace

void AppNames::apply()
{
    QCoreApplication::setOrganizationName(QLatin1String(organisation));
    QCoreApplication::setApplicationName(QLatin1String(application));
}

QString configFilePath(const QString &executableDir, const QString &userConfigDir,
                       const QString &installedProgramDir)
{
    if (useExecutableDir(executableDir, installedProgramDir))
        return executableDir + QStringLiteral("/config.ini");

    const QString path = userConfigDir + QStringLiteral("/config.ini");
    qCDebug(lcSettings)
        << QStringLiteral("UI: %1 is read-only, addresses are kept in %2").arg(executableDir, path);
    return path;
}

QString userConfigDir()
{
    // Built from the names rather than from the program's own: a program
    // that names itself differently still shares the tool's folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(AppNames::organisation) + QLatin1Char('/') +
           QLatin1String(AppNames::application);
}

QString programConfigFile()
{
    const QString chosen = qEnvironmentVariable(kConfigFileVariable);
    if (!chosen.isEmpty())
        return chosen;
    return configFilePath(QCoreApplication::applicationDirPath(), userConfigDir(),
                          QStringLiteral(BENCHTEST_INSTALLED_PROGRAM_DIR));
}
