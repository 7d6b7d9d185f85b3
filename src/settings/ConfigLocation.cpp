#include "settings/ConfigLocation.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

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

QString configFileProblem(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno == ENOENT)
            return QString(); // made on the first save
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    switch (info.st_mode & S_IFMT) {
    case S_IFREG:
        return QString();
    case S_IFIFO:
        return QStringLiteral("is a FIFO, not a regular file");
    case S_IFCHR:
    case S_IFBLK:
        return QStringLiteral("is a device, not a regular file");
    case S_IFDIR:
        return QStringLiteral("is a folder, not a regular file");
    case S_IFSOCK:
        return QStringLiteral("is a socket, not a regular file");
    default:
        return QStringLiteral("is not a regular file");
    }
}

QString usableProgramConfigFile()
{
    const QString path = programConfigFile();
    return configFileProblem(path).isEmpty() ? path : QString();
}
