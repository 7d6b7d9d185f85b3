#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A step row as compared between a result file and the database: number, code, cells.
struct ComparedRow
{
    qint64 step = 0;
    qint64 code = 0;
    QStringList cells;
    bool operator==(const ComparedRow &other) const
    {
        return step == other.step && code == other.code && cells == other.cells;
    }
};

// The rows of a result file as its reader gives them, of every run, in file order.
QList<ComparedRow> fileRows(const QString &path);
// The rows the database holds of a run, in step order; empty on any failure.
QList<ComparedRow> databaseRows(const QString &url, const QString &runId);
// A run read back from the database as the text of its result file; empty on any failure.
QByteArray storedText(const QString &url, const QString &runId);
// First difference between two row lists, for a failure message; empty when equal.
QString firstDifference(const QList<ComparedRow> &expected, const QList<ComparedRow> &actual);
