#pragma once

#include <sys/types.h>

// The system calls the result file and the record are written with, behind
// one seam: a test puts a double here that makes the n-th write, sync,
// rename or close fail, to check that every failure leaves the files right
// or visibly incomplete. Each call returns what the system call returns and
// leaves errno as it sets it.
class FileSystemCalls
{
public:
    virtual ~FileSystemCalls();

    virtual int open(const char *path, int flags, mode_t mode);
    virtual int openAt(int folder, const char *path, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void *bytes, size_t count);
    virtual ssize_t writeAt(int fd, const void *bytes, size_t count, off_t offset);
    virtual int truncate(int fd, off_t length);
    virtual int allocate(int fd, off_t length);
    virtual int syncData(int fd); // fdatasync
    virtual int sync(int fd);     // fsync
    virtual int close(int fd);
    virtual int rename(const char *from, const char *to);
    // Gives an unnamed file (O_TMPFILE) the name `to`; fails when `to` exists.
    virtual int linkUnnamed(int fd, const char *to);
    virtual int link(const char *from, const char *to);
    virtual int unlink(const char *path);

    // The real system calls.
    static FileSystemCalls &system();
};
