#include "results/FileOperation.h"

#include "context/TestContext.h"
#include "results/ResultFileName.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <limits>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcResults, "benchtest.results")

namespace {

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// Appends `bytes` whole or not at all: a write the system takes only in part
// is cut back to where the piece began. False with the system's reason.
bool appendWhole(const QString &path, const QByteArray &bytes, QString *reason)
{
    QFile file(path);
    // Unbuffered, so that a full disk fails the write that meets it, with
    // the system's reason; a buffered flush would report it as unknown.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *reason = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    // The system may take part of a piece and refuse the rest; asking again
    // for the rest brings the refusal and its reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            *reason = file.errorString();
            file.resize(before);
            return false;
        }
        written += count;
    }
    return true;
}

bool fileIdentity(const QString &path, quint64 *device, quint64 *inode)
{
    struct stat status
    {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    *device = quint64(status.st_dev);
    *inode = quint64(status.st_ino);
    return true;
}

} // namespace

FileOperation::FileOperation() : FileOperation([] { return QDateTime::currentDateTime(); }) {}

FileOperation::FileOperation(Clock clock) : clock(std::move(clock)) {}

FileOperation::~FileOperation() = default;

void FileOperation::CreateResultFile()
{
    writeFailureReported = false;
    failedPieces = 0;
    runIdentified = false;
    preamble.clear();
    preambleComplete = false;
    openRow.clear();
    recoveryPath.clear();
    diverted = false;
    recoveryFailed = false;
    const QString stamp = resultTimeStamp(clock());
    TestContext.resultFilePath =
        resultFileName(TestContext.savePath, TestContext.testItem, TestContext.tester, stamp);

    // The head block keeps the operator's texts as typed, but on one line
    // each: a line break would push the column heading off line 6.
    const QString head =
        QStringLiteral("测试项: [") + oneLine(TestContext.testName) + QStringLiteral("]\n") +
        QStringLiteral("测试名: [") + oneLine(TestContext.testItem) + QStringLiteral("]\n") +
        QStringLiteral("测试人: [") + oneLine(TestContext.tester) + QStringLiteral("]\n") +
        QStringLiteral("开始时间: [") + stamp + QStringLiteral("]\n");
    runPath = TestContext.resultFilePath;
    AppendText(TestContext.resultFilePath, head, true);
}

// Every piece opens and closes the file, so the file on disk is complete up to
// the last piece at any time.
void FileOperation::AppendText(const QString &path, const QString &text, bool lineEnd)
{
    QByteArray bytes = text.toLocal8Bit();
    if (lineEnd)
        bytes += '\n';
    QString reason;
    if (path != runPath) {
        if (!appendWhole(path, bytes, &reason)) {
            failedPieces += 1;
            reportWriteFailure(path, reason);
        }
        return;
    }

    if (!diverted) {
        if (!isStillTheRunsFile()) {
            qCDebug(lcResults) << QStringLiteral(
                                      "FileOperation: %1 is no longer the file this run created")
                                      .arg(path);
        } else if (appendWhole(path, bytes, &reason)) {
            if (!runIdentified)
                runIdentified = fileIdentity(path, &runDevice, &runInode);
            remember(bytes);
            return;
        } else {
            reportWriteFailure(path, reason);
        }
        if (!divertToRecovery()) {
            failedPieces += 1;
            remember(bytes);
            return;
        }
    }
    // A recovery file that failed once takes nothing more: it would be spliced.
    if (recoveryPath.isEmpty() || recoveryFailed || !appendWhole(recoveryPath, bytes, &reason)) {
        failedPieces += 1;
        if (!recoveryPath.isEmpty() && !recoveryFailed)
            qCDebug(lcResults)
                << QStringLiteral("FileOperation: cannot write %1: %2").arg(recoveryPath, reason);
        recoveryFailed = true;
    }
    remember(bytes);
}

// The file at the path must be the one the first piece went into: a folder
// moved away and made anew (a stick plugged in again, a share mounted again)
// holds another file, or none, under the same name.
bool FileOperation::isStillTheRunsFile() const
{
    if (!runIdentified)
        return true;
    quint64 device = 0;
    quint64 inode = 0;
    return fileIdentity(runPath, &device, &inode) && device == runDevice && inode == runInode;
}

// From here on the run's pieces go to a recovery file that starts as the
// run's file does: head block, heading and the row under way.
bool FileOperation::divertToRecovery()
{
    diverted = true;
    QStringList folders;
    if (!recoveryFolder.isEmpty())
        folders << recoveryFolder;
    folders << QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                   QStringLiteral("/recovery")
            << QDir::tempPath();
    const QString name = QFileInfo(runPath).completeBaseName();
    for (const QString &folder : folders) {
        if (folder.isEmpty() || !QDir().mkpath(folder))
            continue;
        QString candidate = folder + QLatin1Char('/') + name + QStringLiteral(".txt");
        for (int n = 2; QFileInfo::exists(candidate); ++n)
            candidate = folder + QLatin1Char('/') + name + QStringLiteral(" (%1).txt").arg(n);
        QString reason;
        if (appendWhole(candidate, preamble + openRow, &reason)) {
            recoveryPath = candidate;
            qCDebug(lcResults)
                << QStringLiteral("FileOperation: the rest of the run goes to %1").arg(candidate);
            return true;
        }
    }
    qCDebug(lcResults) << QStringLiteral("FileOperation: no recovery file could be written");
    return false;
}

// Keeps what a recovery file must start with: the head block up to the
// column heading, and the row begun so far.
void FileOperation::remember(const QByteArray &piece)
{
    if (!preambleComplete) {
        preamble += piece;
        // The head block ends with an empty line; the next line is the heading.
        const qsizetype headEnd = preamble.indexOf("\n\n");
        preambleComplete = headEnd >= 0 && preamble.indexOf('\n', headEnd + 2) >= 0;
        return;
    }
    const qsizetype lineEnd = piece.lastIndexOf('\n');
    if (lineEnd >= 0)
        openRow = piece.mid(lineEnd + 1);
    else
        openRow += piece;
}

void FileOperation::reportWriteFailure(const QString &path, const QString &reason)
{
    if (writeFailureReported)
        return;
    writeFailureReported = true;
    qCDebug(lcResults) << QStringLiteral("FileOperation: cannot write %1: %2").arg(path, reason);
}

// Pure function of its inputs: linear extrapolation of the time spent so far.
// Without a completed step (or without steps) there is nothing to extrapolate
// from, so the text shows "--" in place of a time and the percentage is 0.
void FileOperation::ProgressText(QString &text, int &percent, qint64 elapsedMs, qint64 total,
                                 qint64 done)
{
    if (done <= 0 || total <= 0) {
        percent = 0;
        text = QStringLiteral("进度：0%  ( -- )");
        return;
    }

    // The products are formed in 128 bits: the step count comes from a field
    // the operator may fill with any 64-bit number, and 64 bits would overflow.
    __extension__ using Wide = __int128;
    const Wide maxTime = std::numeric_limits<qint64>::max();
    percent = int(qBound<Wide>(0, Wide(done) * 100 / total, std::numeric_limits<int>::max()));
    const qint64 remaining =
        qint64(qBound<Wide>(-maxTime, Wide(total - done) * elapsedMs / done, maxTime));

    const qint64 days = remaining / 86400000;
    const qint64 hours = (remaining % 86400000) / 3600000;
    const qint64 minutes = (remaining % 3600000) / 60000;
    const qint64 seconds = (remaining % 60000) / 1000;
    const qint64 magnitude = remaining < 0 ? -remaining : remaining;

    QString units;
    if (magnitude >= 86400000)
        units += QStringLiteral("%1d ").arg(days);
    if (magnitude >= 3600000)
        units += QStringLiteral("%1h ").arg(hours);
    if (magnitude >= 60000)
        units += QStringLiteral("%1m ").arg(minutes);
    units += QStringLiteral("%1s").arg(seconds);

    text = QStringLiteral("进度：%1%  ( ").arg(percent) + units + QStringLiteral(" )");
}
