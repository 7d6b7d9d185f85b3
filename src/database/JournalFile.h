#pragma once

#include <QByteArray>
#include <QString>

// A run's database journal on disk: "<name>.dbjournal" beside its result file, one entry a
// line (JournalEntry), only ever appended to. The writer holds an exclusive lock on it
// (flock) while the run goes on, so that a sync never takes a journal still being written.
class JournalFile
{
public:
    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile &) = delete;
    JournalFile &operator=(const JournalFile &) = delete;

    // "<folder>/<name>.dbjournal" for "<folder>/<name>.txt".
    static QString pathFor(const QString &resultFile);

    // Opens (creating) the journal for appending and locks it. False with error().
    [[nodiscard]] bool open(const QString &path);
    // Opens an existing journal for a sync, locked: false when it cannot be read or a
    // program still writes it (error() says which).
    [[nodiscard]] bool openExisting(const QString &path);
    [[nodiscard]] bool isOpen() const { return fd >= 0; }
    QString path() const { return filePath; }
    QString error() const { return lastError; }

    // Appends whole lines: all of `lines` or nothing (a short write is cut back off).
    [[nodiscard]] bool append(const QByteArray &lines);
    // Makes what was appended durable (fdatasync).
    [[nodiscard]] bool sync();
    // Bytes of whole lines in the file.
    [[nodiscard]] qint64 size() const { return bytes; }
    // Reads whole lines from `offset`, at most about `maxBytes`: empty at the end.
    [[nodiscard]] QByteArray readLines(qint64 offset, qint64 limit, qint64 maxBytes) const;
    void close();
    // Deletes the journal (its entries are stored elsewhere) and closes it.
    bool remove();

private:
    bool openWith(const QString &path, int flags);

    int fd = -1;
    qint64 bytes = 0;
    QString filePath;
    QString lastError;
};
