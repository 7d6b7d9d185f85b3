#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One step row of a result file: "No.", the code sent to the board, then the reading cells
// exactly as written ("ERR" included).
struct ResultRow
{
    qint64 number = 0;
    qint64 code = 0;
    QStringList readings;
    bool ended = false; // false for the last row of a run that was stopped mid-step
    int line = 0;       // 1-based line in the file, for messages
};

// One run: head block, column heading, rows and, when the run finished, the end line.
struct ResultRun
{
    QString file;
    int index = 0; // 1-based position of the run within its file
    QString testName;
    QString testItem;
    QString tester;
    QString startTime;
    QString finishTime;     // empty when the run was stopped
    QString quantity;       // second heading column: "DAC" or "ISINK"
    QStringList dmmColumns; // "DMM1", "DMM2", ...
    QList<ResultRow> rows;
    bool finished = false; // the end line was found
    int headingLine = 0;
};

// Everything read from one file. An unreadable file has a non-empty error and no runs.
struct ResultFile
{
    QString path;
    QString encoding;
    QString error;
    QStringList warnings;
    QList<ResultRun> runs;
};
