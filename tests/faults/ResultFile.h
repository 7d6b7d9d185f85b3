#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A result file as it lies on disk, cut into its parts: the head block, the
// column heading, the rows and the end line.
class ResultFile
{
public:
    static ResultFile parse(const QByteArray &bytes);
    static ResultFile read(const QString &path);

    QStringList head;         // the five lines before the heading
    QString heading;          // "No.\tDAC\tDMM1..."
    QList<QStringList> rows;  // cells of every row, the open last one too
    bool lastRowOpen = false; // the last row lacks its line end
    bool finished = false;    // the end line "完成时间: [...]" is there
    QStringList stray;        // lines that fit nowhere: a broken file

    // The reading cells of all rows, in file order.
    QStringList readings() const;
};
