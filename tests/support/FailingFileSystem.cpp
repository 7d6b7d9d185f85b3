#include "tests/support/FailingFileSystem.h"

#include <cerrno>

FailingFileSystem::FailingFileSystem(qint64 failAt, int error) : failAt(failAt), error(error) {}

bool FailingFileSystem::failsNow(const QString &what, bool isWrite)
{
    if (writesOnly && !isWrite)
        return false;
    counted += 1;
    if (failAt <= 0 || counted < failAt || (counted > failAt && !onward))
        return false;
    if (failure.isEmpty())
        failure = what;
    errno = error;
    return true;
}

int FailingFileSystem::open(const char *path, int flags, mode_t mode)
{
    const int fd = FileSystemCalls::open(path, flags, mode);
    if (fd >= 0)
        paths.insert(fd, QString::fromLocal8Bit(path));
    return fd;
}

ssize_t FailingFileSystem::write(int fd, const void *bytes, size_t count)
{
    if (failsNow(QStringLiteral("write ") + paths.value(fd), true))
        return -1;
    return FileSystemCalls::write(fd, bytes, count);
}

ssize_t FailingFileSystem::writeAt(int fd, const void *bytes, size_t count, off_t offset)
{
    if (failsNow(QStringLiteral("write ") + paths.value(fd), true))
        return -1;
    return FileSystemCalls::writeAt(fd, bytes, count, offset);
}

int FailingFileSystem::syncData(int fd)
{
    if (failsNow(QStringLiteral("sync ") + paths.value(fd)))
        return -1;
    syncsDone += 1;
    return FileSystemCalls::syncData(fd);
}

int FailingFileSystem::sync(int fd)
{
    if (failsNow(QStringLiteral("sync ") + paths.value(fd)))
        return -1;
    syncsDone += 1;
    return FileSystemCalls::sync(fd);
}

int FailingFileSystem::close(int fd)
{
    const QString path = paths.take(fd);
    // The descriptor is gone either way, as with a real failed close.
    const int result = FileSystemCalls::close(fd);
    if (failsNow(QStringLiteral("close ") + path))
        return -1;
    return result;
}

int FailingFileSystem::rename(const char *from, const char *to)
{
    if (failsNow(QStringLiteral("rename %1").arg(QString::fromLocal8Bit(to))))
        return -1;
    return FileSystemCalls::rename(from, to);
}

int FailingFileSystem::linkUnnamed(int fd, const char *to)
{
    if (failsNow(QStringLiteral("link %1").arg(QString::fromLocal8Bit(to))))
        return -1;
    return FileSystemCalls::linkUnnamed(fd, to);
}

int FailingFileSystem::link(const char *from, const char *to)
{
    if (failsNow(QStringLiteral("link %1").arg(QString::fromLocal8Bit(to))))
        return -1;
    return FileSystemCalls::link(from, to);
}
