#include "tools/boardsim/DeviceLink.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

DeviceLink::~DeviceLink()
{
    remove();
}

bool DeviceLink::create(const QString &linkPath, const QString &targetPath, QString *error)
{
    remove();
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(linkPath, reason);
        return false;
    };
    const QFileInfo existing(linkPath);
    if (existing.isSymLink()) {
        if (::unlink(QFile::encodeName(linkPath).constData()) != 0)
            return fail(QString::fromLocal8Bit(strerror(errno)));
    } else if (existing.exists()) {
        return fail(QStringLiteral("exists and is not a symbolic link"));
    }
    if (::symlink(QFile::encodeName(targetPath).constData(),
                  QFile::encodeName(linkPath).constData()) != 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
    link = linkPath;
    target = targetPath;
    return true;
}

void DeviceLink::remove()
{
    if (link.isEmpty())
        return;
    // Another run may have taken the name over since; leave its link alone.
    if (QFileInfo(link).symLinkTarget() == QFileInfo(target).absoluteFilePath())
        ::unlink(QFile::encodeName(link).constData());
    link.clear();
    target.clear();
}
