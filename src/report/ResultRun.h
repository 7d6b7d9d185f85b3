#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// One step row of a result file as it is read: "No.", the code sent to the board, then the
// reading cells exactly as written ("ERR" included). The cells point into the reader's
// buffer: they are valid only while the row is being handled.
struct ResultRow
{
    qint64 number = 0;
    qint64 code = 0;
    std::vector<QByteArrayView> readings;
    bool ended = true;    // false for a row without its line end: stopped or cut off mid-row
    bool cutCell = false; // such a row's last cell, which may be cut, was left out of readings
    qint64 line = 0;      // 1-based line in the file, for messages
};

// One run: head block, column heading, how many rows and, when the run finished, the end line.
struct ResultRun
{
    QString file;
    int index = 0; // 1-based position of the run within its file
    QString testName;
    QString testItem;
    QString tester;
    QString startTime;
    QString finishTime;       // empty when the run was stopped
    QString quantity;         // second heading column: "DAC" or "ISINK"
    QStringList dmmColumns;   // "DMM1", "DMM2", ...
    QStringList otherColumns; // after the readings, not readings: "PWR" (the supply current)
    qint64 rows = 0;
    bool finished = false; // the end line was found
    qint64 headingLine = 0;
};

// Everything read from one file but its rows, which go to the reader's row handler as they
// are read. An unreadable file has a non-empty error.
struct ResultFile
{
    QString path;
    QString encoding;
    QString error;
    QStringList warnings;
    QList<ResultRun> runs;
};
