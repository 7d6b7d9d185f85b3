#pragma once

#include "report/ResultFileReader.h"

#include <QFile>
#include <QString>

// Reads a result file while it is being written: each readMore() reads what was appended since
// the last call and hands its whole rows on; a row still being written waits for its line end.
// The file stays open once found, so a file moved away or replaced at its path is still read
// to its end. Memory holds one chunk and the line begun, whatever the file's size.
class ResultFileFollower
{
public:
    static constexpr qint64 kChunk = 1 << 20;

    ResultFileFollower(const QString &path, ResultFileReader::RowHandler onRow);

    QString path() const { return m_path; }
    // Opens the file once it is there; false while it is not.
    bool open();
    bool isOpen() const { return m_file.isOpen(); }

    // Reads at most `limit` bytes appended since the last call: the bytes read, 0 when there
    // was nothing new (or the reader is done), -1 on a read error (error() says which).
    qint64 readMore(qint64 limit = kChunk);
    // The last run's end line is read and nothing follows it.
    bool endLineRead() const;
    // The reader is done: the file was refused (file().error) or ended in binary data.
    bool isDone() const { return m_reader.isDone(); }
    // Forgets a row begun but not ended: the run goes on in a recovery file that repeats it.
    qsizetype dropPartialLine() { return m_reader.dropPartialLine(); }
    // No more bytes will come: a row without its line end is read as one cut off.
    void finish() { m_reader.finish(); }

    const ResultFile &file() const { return m_reader.file(); }
    QString error() const { return m_error; }

private:
    QString m_path;
    QFile m_file;
    ResultFileReader m_reader;
    QByteArray m_chunk;
    QString m_error;
};
