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
    // Opens the file in append mode, writes the text (and a line end), closes
    // it. A piece goes in whole or not at all. For the run's own file: once a
    // piece cannot be written, or the file at the path is no longer the one
    // this run created, the rest of the run goes to a recovery file instead,
    // which starts with the same head block, heading and the row begun.
    void AppendText(const QString &path, const QString &text, bool lineEnd);
    // Percentage of completed steps and the remaining-time text.
    void ProgressText(QString &text, int &percent, qint64 elapsedMs, qint64 total, qint64 done);
    // Pieces of this run that reached neither its file nor a recovery file.
    [[nodiscard]] qint64 piecesNotWritten() const { return failedPieces; }
    // Where the rest of the run went; empty while its own file took everything.
    [[nodiscard]] QString recoveryFile() const { return recoveryPath; }
    // Recovery files go here (default: the user's data folder, else the temporary folder).
    void setRecoveryFolder(const QString &folder) { recoveryFolder = folder; }

private:
    void reportWriteFailure(const QString &path, const QString &reason);
    bool isStillTheRunsFile() const;
    bool divertToRecovery();
    void remember(const QByteArray &piece);

    Clock clock;
    bool writeFailureReported = false;
    qint64 failedPieces = 0;
    QString runPath;       // the file CreateResultFile made
    quint64 runDevice = 0; // and its identity on disk
    quint64 runInode = 0;
    bool runIdentified = false;
    QByteArray preamble; // head block and column heading, once complete
    bool preambleComplete = false;
    QByteArray openRow; // what was written since the last line end
    QString recoveryFolder;
    QString recoveryPath;
    bool diverted = false;
    bool recoveryFailed = false;
};
