#include "app/WindowIcon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QIcon windowIconForInstall()
{
    const QString customIcon = QStringLiteral("/C.ico");
    if (QFileInfo::exists(customIcon))
        return QIcon(customIcon);

    // <prefix>/bin/benchtest finds <prefix>/share/icons, wherever the prefix is.
    const QString besideInstall =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons"));
    QStringList searchPaths = QIcon::themeSearchPaths();
    if (!searchPaths.contains(besideInstall) && QFileInfo(besideInstall).isDir()) {
        searchPaths.append(besideInstall);
        QIcon::setThemeSearchPaths(searchPaths);
    }
    return QIcon::fromTheme(QStringLiteral("benchtest"),
                            QIcon(QStringLiteral(":/benchtest/benchtest.svg")));
}
