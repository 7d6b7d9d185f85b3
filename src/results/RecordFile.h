#pragma once

#include "results/FileSystemCalls.h"

#include <QByteArray>
#include <QString>

#include <ctime>
#include <sys/types.h>

// Keeps one run's record on disk under one name. Every write goes to a
// temporary file in the same folder, is synced, and only then takes the
// record's name, so a failed write leaves the last good record as it was.
// The first write takes a free name and never replaces a file; later ones
// replace only the record this object wrote itself (a link or another file
// put under its name is refused, never written through). A spare temporary
// file is kept allocated between writes, so that the next record still fits
// when the disk has filled up meanwhile.
class RecordFile
{
public:
    explicit RecordFile(FileSystemCalls &calls = FileSystemCalls::system());
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Where the record goes; forgets an earlier name (and keeps its file).
    void setPath(const QString &path);
    [[nodiscard]] QString path() const { return recordPath; }

    // Takes over the record at path() that an earlier run of the same
    // measurement left (a run resumed): later writes replace it. Only a
    // regular file, no link, holding exactly `expected` (what the caller read
    // and checked) is taken; false with the reason otherwise.
    [[nodiscard]] bool takeOver(const QByteArray &expected, QString *error);
    // Writes `bytes` as the whole record. False with the reason when any step
    // failed; the file under the record's name is then what it was before.
    [[nodiscard]] bool write(const QByteArray &bytes, QString *error);

    // The spare is this large at least: records are a few kilobytes.
    static constexpr off_t kSpareBytes = 64 * 1024;

private:
    struct Temporary
    {
        int fd = -1;
        bool unnamed = false; // O_TMPFILE: no name until it is linked
        QByteArray name;      // a named one's path
        off_t allocated = 0;
    };

    bool openTemporary(Temporary *temporary, off_t size, QString *error);
    void discard(Temporary *temporary);
    bool isStillOurs() const;
    bool syncFolder();
    QString failure(const char *what) const;

    FileSystemCalls &calls;
    QString recordPath;
    QByteArray encodedPath;
    QByteArray folder;
    bool written = false;
    // The record this object wrote last. The change time tells it from a
    // file that took its inode number after it was deleted.
    dev_t writtenDevice = 0;
    ino_t writtenInode = 0;
    struct timespec writtenChange = {};
    Temporary spare;
};
