#pragma once

#include "results/FileSystemCalls.h"

#include <QMap>
#include <QString>
#include <QStringList>

// The real disk, except that the n-th write, sync, rename (or link) or
// close fails with `error`: every operation that puts a run's bytes on disk
// is counted in one sequence, so a test can walk n = 1, 2, … through all of
// them. What failed is kept for the test's messages.
class FailingFileSystem : public FileSystemCalls
{
public:
    explicit FailingFileSystem(qint64 failAt = 0, int error = 5 /* EIO */);
    // Every counted operation from the n-th on fails, not just the n-th.
    void failOnward() { onward = true; }
    // Only writes are counted (a disk that is full), not syncs, renames or closes.
    void countWritesOnly() { writesOnly = true; }

    int open(const char *path, int flags, mode_t mode) override;
    ssize_t write(int fd, const void *bytes, size_t count) override;
    ssize_t writeAt(int fd, const void *bytes, size_t count, off_t offset) override;
    int syncData(int fd) override;
    int sync(int fd) override;
    int close(int fd) override;
    int rename(const char *from, const char *to) override;
    int linkUnnamed(int fd, const char *to) override;
    int link(const char *from, const char *to) override;

    // Operations counted so far, and how many syncs of them succeeded.
    qint64 operations() const { return counted; }
    qint64 syncs() const { return syncsDone; }
    // "write <path>" and the like, for the one that failed; empty when none did.
    QString failed() const { return failure; }

private:
    bool failsNow(const QString &what, bool isWrite = false);

    qint64 failAt;
    int error;
    bool onward = false;
    bool writesOnly = false;
    qint64 counted = 0;
    QString failure;
    qint64 syncsDone = 0;
    QMap<int, QString> paths; // of the open descriptors
};
