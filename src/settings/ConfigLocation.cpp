#include "ConfigLocation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

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

void AppNames::apply()
{
    QCoreApplication::setOrganizationName(QLatin1String(organisation));
    QCoreApplication::setApplicationName(QLatin1String(application));
}

QString configFilePath(const QString &executableDir, const QString &userConfigDir)
{
    if (useExecutableDir(executableDir))
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
    return configFilePath(QCoreApplication::applicationDirPath(), userConfigDir());
}
