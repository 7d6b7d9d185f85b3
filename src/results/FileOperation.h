#pragma once

#include <QObject>
#include <QString>

// Writes the result file of a run piece by piece and renders the progress text.
class FileOperation : public QObject
{
    Q_OBJECT

public:
    FileOperation();
    ~FileOperation() override;

    // Names the run's file after TestContext's item, tester and the start time,
    // stores the name in TestContext.resultFilePath and writes the head block.
    void CreateResultFile();
    // Opens the file in append mode, writes the text (and a line end), closes it.
    void AppendText(const QString &path, const QString &text, bool lineEnd);
    // Percentage of completed steps and the remaining-time text.
    void ProgressText(QString &text, int &percent, qint64 elapsedMs, qint64 total, qint64 done);
};
