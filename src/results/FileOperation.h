#pragma once

#include "results/FileSystemCalls.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <ctime>
#include <functional>
#include <sys/types.h>

// Writes the result file of a run piece by piece and renders the progress text.
class FileOperation : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    FileOperation();
    // Takes the start time stamp from `clock` instead of the local time (tests).
    explicit FileOperation(Clock clock, FileSystemCalls &calls = FileSystemCalls::system());
    ~FileOperation() override;

    // Names the run's file after TestContext's item, tester and the start time,
    // stores the name in TestContext.resultFilePath and writes the head block.
    // A run never writes into a file that exists: the file is created
    // exclusively, and when its name (or its record's, ".json") is taken, by
    // a file or a link, the run takes the same name with " (2)", " (3)", …
    void CreateResultFile();
    // The same for a run that names its own folder and texts (a run on a
    // thread of its own, which leaves TestContext to the window): returns
    // the file's path instead of storing it.
    QString CreateResultFile(const QString &folder, const QString &testName,
                             const QString &testItem, const QString &tester);
    // Takes up a run's existing file to continue it (a run resumed): the
    // file is cut back to its first `keepBytes` (its whole rows), synced, and
    // becomes the run's own, as if CreateResultFile had made it; a link, a
    // file that is not regular or shorter than `keepBytes`, or one without a
    // head block and heading is refused with the reason.
    [[nodiscard]] bool ContinueResultFile(const QString &path, qint64 keepBytes, QString *reason);
    // Opens the file in append mode, writes the text (and a line end), closes
    // it. A piece goes in whole or not at all, and a piece with a line end
    // (the head block, the heading, the end of a row, the end line) is on
    // disk when this returns. For the run's own file: once a piece cannot be
    // written, or the file at the path is no longer the one this run created,
    // the rest of the run goes to a recovery file instead, which starts with
    // the same head block, heading and the row begun.
    void AppendText(const QString &path, const QString &text, bool lineEnd);
    // Puts what the run wrote since the last line end on disk as well (a run
    // stopped mid-row). False when that failed, or when the folder did not
    // confirm the file's name: the file or its last pieces may be lost.
    [[nodiscard]] bool SyncResultFile();
    // Percentage of completed steps and the remaining-time text.
    void ProgressText(QString &text, int &percent, qint64 elapsedMs, qint64 total, qint64 done);
    // Pieces of this run that reached neither its file nor a recovery file.
    [[nodiscard]] qint64 piecesNotWritten() const { return failedPieces; }
    // Where the rest of the run went; empty while its own file took everything.
    [[nodiscard]] QString recoveryFile() const { return recoveryPath; }
    // The name the run asked for, when it had to take another one; else empty.
    [[nodiscard]] QString takenName() const { return nameTaken; }
    // Recovery files go here (default: the user's data folder, else the temporary folder).
    void setRecoveryFolder(const QString &folder) { recoveryFolder = folder; }

private:
    // A file of this run, as it was after this run's last write to it; the
    // change time tells it from a file that took its inode number later.
    struct Identity
    {
        dev_t device = 0;
        ino_t inode = 0;
        struct timespec change = {};
        bool known = false;
    };

    enum class Open
    {
        Existing,    // the run's file: it must be there, and be the run's
        Create,      // any other path: created when missing
        CreateAlone, // a new file: refused when the name is taken
    };
    void forgetRun();
    bool appendWhole(const QString &path, Open mode, const QByteArray &bytes, bool sync,
                     Identity *identity, QString *reason);
    bool syncPath(const QString &path, const Identity &identity, QString *reason);
    QString claimResultName(const QString &wanted, QString *reason);
    void reportWriteFailure(const QString &path, const QString &reason);
    bool divertToRecovery();
    void remember(const QByteArray &piece);

    Clock clock;
    FileSystemCalls &calls;
    bool writeFailureReported = false;
    qint64 failedPieces = 0;
    QString runPath; // the file CreateResultFile made
    Identity runIdentity;
    QByteArray preamble; // head block and column heading, once complete
    bool preambleComplete = false;
    QByteArray openRow; // what was written since the last line end
    QString recoveryFolder;
    QString recoveryPath;
    Identity recoveryIdentity;
    QString nameTaken;
    bool folderNotSynced = false; // a file's name may not survive a power cut
    bool diverted = false;
    bool recoveryFailed = false;
};
