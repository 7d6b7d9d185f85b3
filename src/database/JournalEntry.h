#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// One completed step row of a run, as it goes to the database.
struct DatabaseRow
{
    qint64 step = 0;
    qint64 code = 0;        // the value sent to the board
    QStringList cells;      // the reading cells as written in the result file ("ERR" included)
    qint64 wallMs = 0;      // when the row was complete, ms since the epoch
    qint64 monotonicMs = 0; // the same on the run's monotonic clock, from its start
};

// What a run tells its database, one line of its journal each: the record at the start,
// each completed row, the final record with the run's figures at the end.
struct JournalEntry
{
    enum Kind
    {
        Start,
        Row,
        End
    };

    Kind kind = Row;
    QString runId;
    QJsonObject record;  // Start, End
    QJsonObject figures; // End: gain, offset, INL, DNL … (RunFigures)
    DatabaseRow row;     // Row

    // One line of JSON, without its line end.
    [[nodiscard]] QByteArray toLine() const;
    // False for a line that is not a whole entry (a journal cut off mid-line).
    [[nodiscard]] static bool fromLine(QByteArrayView line, JournalEntry *entry);
};
