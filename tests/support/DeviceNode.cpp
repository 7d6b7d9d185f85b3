#include "tests/support/DeviceNode.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

QString privateNullDevice(const QString &folder, QString *why)
{
    const QString path = folder + QStringLiteral("/null");
    const QByteArray name = QFile::encodeName(path);
    if (::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        *why = QStringLiteral("mknod of a character device is not permitted here: ") +
               QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        *why = QStringLiteral("device nodes cannot be opened in %1 (mounted nodev?)").arg(folder);
        return QString();
    }
    ::close(fd);
    return path;
}
