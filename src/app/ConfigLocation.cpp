#include "ConfigLocation.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace {

bool canWriteConfig(const QString &dir)
{
    const QFileInfo existing(dir + QStringLiteral("/config.ini"));
    if (existing.exists())
        return existing.isWritable();
    return QFileInfo(dir).isWritable();
}

} // namespace

QString configFilePath(const QString &executableDir, const QString &userConfigDir)
{
    if (canWriteConfig(executableDir))
        return executableDir + QStringLiteral("/config.ini");

    QDir().mkpath(userConfigDir);
    const QString path = userConfigDir + QStringLiteral("/config.ini");
    qDebug()
        << QStringLiteral("UI: %1 is read-only, addresses are kept in %2").arg(executableDir, path);
    return path;
}
