#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

// Writes the result file of a run piece by piece and renders the progress text.
class FileOperation : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    FileOperation();
    // Takes the start time stamp from `clock` instead of the local time (tests).
    explicit FileOperation(Clock clock);
    ~FileOperation() override;

    // Names the run's file after TestContext's item, tester and the start time,
    // stores the name in TestContext.resultFilePath and writes the head block.
    void CreateResultFile();
    // Opens the file in append mode, writes the text (and a line end), closes it.
    void AppendText(const QString &path, const QString &text, bool lineEnd);
    // Percentage of completed steps and the remaining-time text.
    void ProgressText(QString &text, int &percent, qint64 elapsedMs, qint64 total, qint64 done);
    // Pieces of this run that did not reach the file.
    [[nodiscard]] qint64 piecesNotWritten() const { return failedPieces; }

private:
    void reportWriteFailure(const QString &path, const QString &reason);

    Clock clock;
    bool writeFailureReported = false;
    qint64 failedPieces = 0;
};
