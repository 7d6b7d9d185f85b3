#include "results/FileSystemCalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

FileSystemCalls::~FileSystemCalls() = default;

int FileSystemCalls::open(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags | O_CLOEXEC, mode);
}

int FileSystemCalls::openAt(int folder, const char *path, int flags, mode_t mode)
{
    return ::openat(folder, path, flags | O_CLOEXEC, mode);
}

ssize_t FileSystemCalls::write(int fd, const void *bytes, size_t count)
{
    return ::write(fd, bytes, count);
}

ssize_t FileSystemCalls::writeAt(int fd, const void *bytes, size_t count, off_t offset)
{
    return ::pwrite(fd, bytes, count, offset);
}

int FileSystemCalls::truncate(int fd, off_t length)
{
    return ::ftruncate(fd, length);
}

int FileSystemCalls::allocate(int fd, off_t length)
{
    // posix_fallocate returns the error instead of setting errno.
    const int error = ::posix_fallocate(fd, 0, length);
    if (error == 0)
        return 0;
    errno = error;
    return -1;
}

int FileSystemCalls::syncData(int fd)
{
    return ::fdatasync(fd);
}

int FileSystemCalls::sync(int fd)
{
    return ::fsync(fd);
}

int FileSystemCalls::close(int fd)
{
    return ::close(fd);
}

int FileSystemCalls::rename(const char *from, const char *to)
{
    return ::rename(from, to);
}

int FileSystemCalls::linkUnnamed(int fd, const char *to)
{
    // Through /proc, which needs no privilege (AT_EMPTY_PATH would).
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, path, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}

int FileSystemCalls::link(const char *from, const char *to)
{
    return ::link(from, to);
}

int FileSystemCalls::unlink(const char *path)
{
    return ::unlink(path);
}

FileSystemCalls &FileSystemCalls::system()
{
    static FileSystemCalls calls;
    return calls;
}
