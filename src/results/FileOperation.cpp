#include "results/FileOperation.h"

#include "context/TestContext.h"
#include "record/RunRecord.h"
#include "results/ProgressFigures.h"
#include "results/ResultFileName.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcResults, "benchtest.results")

namespace {

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A name is taken when anything is there, a dangling link included.
bool nameIsTaken(const QString &path)
{
    struct stat status
    {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

bool syncFolderOf(FileSystemCalls &calls, const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    const int fd = calls.open(folder.constData(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0)
        return false;
    const bool synced = calls.sync(fd) == 0;
    return calls.close(fd) == 0 && synced;
}

bool sameFile(const struct stat &status, dev_t device, ino_t inode, const struct timespec &change)
{
    return status.st_dev == device && status.st_ino == inode &&
           status.st_ctim.tv_sec == change.tv_sec && status.st_ctim.tv_nsec == change.tv_nsec;
}

// Names never reused: two runs that start in one second, in one process or
// two, each get a file of their own.
constexpr int kMaxNameNumber = 9999;

} // namespace

FileOperation::FileOperation() : FileOperation([] { return QDateTime::currentDateTime(); }) {}

FileOperation::FileOperation(Clock clock, FileSystemCalls &calls)
    : clock(std::move(clock)), calls(calls)
{}

FileOperation::~FileOperation() = default;

// A new run of this writer starts from nothing of the last one.
void FileOperation::forgetRun()
{
    writeFailureReported = false;
    failedPieces = 0;
    runPath.clear();
    runIdentity = Identity();
    recoveryIdentity = Identity();
    preamble.clear();
    preambleComplete = false;
    openRow.clear();
    recoveryPath.clear();
    nameTaken.clear();
    folderNotSynced = false;
    diverted = false;
    recoveryFailed = false;
}

void FileOperation::CreateResultFile()
{
    TestContext.resultFilePath = CreateResultFile(TestContext.savePath, TestContext.testName,
                                                  TestContext.testItem, TestContext.tester);
}

QString FileOperation::CreateResultFile(const QString &folder, const QString &testName,
                                        const QString &testItem, const QString &tester)
{
    forgetRun();
    const QString stamp = resultTimeStamp(clock());
    const QString wanted = resultFileName(folder, testItem, tester, stamp);
    QString reason;
    const QString path = claimResultName(wanted, &reason);
    if (path != wanted) {
        nameTaken = wanted;
        qCDebug(lcResults) << QStringLiteral("FileOperation: %1 is taken (%2), this run writes %3")
                                  .arg(wanted, reason, path);
    }

    // The head block keeps the operator's texts as typed, but on one line
    // each: a line break would push the column heading off line 6.
    const QString head = QStringLiteral("测试项: [") + oneLine(testName) + QStringLiteral("]\n") +
                         QStringLiteral("测试名: [") + oneLine(testItem) + QStringLiteral("]\n") +
                         QStringLiteral("测试人: [") + oneLine(tester) + QStringLiteral("]\n") +
                         QStringLiteral("开始时间: [") + stamp + QStringLiteral("]\n");
    runPath = path;
    AppendText(path, head, true);
    return path;
}

bool FileOperation::ContinueResultFile(const QString &path, qint64 keepBytes, QString *reason)
{
    forgetRun();

    const int fd = calls.open(QFile::encodeName(path).constData(),
                              O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    const auto fail = [&](const QString &why) {
        *reason = why;
        calls.close(fd);
        return false;
    };
    struct stat status
    {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (status.st_size < keepBytes)
        return fail(QStringLiteral("the file is shorter than when it was read"));
    // The head block and the heading, which a recovery file would start with.
    QByteArray head(int(qMin<qint64>(keepBytes, 64 * 1024)), '\0');
    qsizetype got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + got, size_t(head.size() - got), off_t(got));
        if (n <= 0)
            break;
        got += n;
    }
    head.truncate(got);
    const qsizetype headEnd = head.indexOf("\n\n");
    const qsizetype headingEnd = headEnd < 0 ? -1 : head.indexOf('\n', headEnd + 2);
    if (headingEnd < 0)
        return fail(QStringLiteral("no head block and column heading"));
    if (status.st_size > keepBytes &&
        (calls.truncate(fd, off_t(keepBytes)) != 0 || calls.syncData(fd) != 0))
        return fail(systemReason(errno));
    if (::fstat(fd, &status) != 0)
        return fail(systemReason(errno));
    if (calls.close(fd) != 0) {
        *reason = systemReason(errno);
        return false;
    }
    preamble = head.left(headingEnd + 1);
    preambleComplete = true;
    runIdentity.device = status.st_dev;
    runIdentity.inode = status.st_ino;
    runIdentity.change = status.st_ctim;
    runIdentity.known = true;
    runPath = path;
    return true;
}

// Creates the run's file under the first free name of `wanted`, " (2)", …,
// whose record's name is free as well. When the folder refuses (missing, not
// writable), `wanted` is returned and the first piece meets the refusal.
QString FileOperation::claimResultName(const QString &wanted, QString *reason)
{
    const QFileInfo info(wanted);
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName();
    for (int number = 1; number <= kMaxNameNumber; ++number) {
        const QString candidate =
            number == 1 ? wanted : stem + QStringLiteral(" (%1).txt").arg(number);
        if (nameIsTaken(RunRecord::pathFor(candidate))) {
            if (reason->isEmpty())
                *reason = QStringLiteral("its record's name is in use");
            continue;
        }
        const QByteArray path = QFile::encodeName(candidate);
        const int fd = calls.open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            struct stat status
            {};
            if (::fstat(fd, &status) == 0) {
                runIdentity.device = status.st_dev;
                runIdentity.inode = status.st_ino;
                runIdentity.change = status.st_ctim;
                runIdentity.known = true;
            }
            calls.close(fd);
            // The file's name must outlive a power cut as its rows do.
            if (!syncFolderOf(calls, candidate))
                folderNotSynced = true;
            return candidate;
        }
        if (errno != EEXIST)
            return wanted;
        if (reason->isEmpty()) {
            struct stat status
            {};
            *reason = ::lstat(path.constData(), &status) == 0 && S_ISLNK(status.st_mode)
                          ? QStringLiteral("a symbolic link is there")
                          : QStringLiteral("a file is there");
        }
    }
    return wanted;
}

// Appends `bytes` whole or not at all: a write the system takes only in part,
// or a sync that fails, is cut back to where the piece began. A link at the
// path is never followed. For the run's own files (`identity` given) the
// file must be the one first written there.
bool FileOperation::appendWhole(const QString &path, Open mode, const QByteArray &bytes, bool sync,
                                Identity *identity, QString *reason)
{
    int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK;
    if (mode == Open::Create)
        flags |= O_CREAT;
    else if (mode == Open::CreateAlone)
        flags |= O_CREAT | O_EXCL;
    const QByteArray name = QFile::encodeName(path);
    const int fd = calls.open(name.constData(), flags, 0666);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    struct stat status
    {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *reason = QStringLiteral("not a regular file");
        calls.close(fd);
        return false;
    }
    if (identity && identity->known &&
        !sameFile(status, identity->device, identity->inode, identity->change)) {
        *reason = QStringLiteral("another file");
        calls.close(fd);
        return false;
    }
    const off_t before = status.st_size;
    bool ok = true;
    for (qsizetype written = 0; ok && written < bytes.size();) {
        const ssize_t count =
            calls.write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        ok = count > 0;
        written += ok ? count : 0;
    }
    if (ok && sync)
        ok = calls.syncData(fd) == 0;
    if (!ok) {
        *reason = systemReason(errno);
        calls.truncate(fd, before);
        calls.close(fd);
        return false;
    }
    struct stat after
    {};
    const bool stated = ::fstat(fd, &after) == 0;
    if (calls.close(fd) != 0) {
        *reason = systemReason(errno);
        return false;
    }
    if (identity && stated) {
        identity->device = after.st_dev;
        identity->inode = after.st_ino;
        identity->change = after.st_ctim;
        identity->known = true;
    }
    return true;
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
        if (!appendWhole(path, Open::Create, bytes, lineEnd, nullptr, &reason)) {
            failedPieces += 1;
            reportWriteFailure(path, reason);
        }
        return;
    }

    if (!diverted) {
        if (appendWhole(path, Open::Existing, bytes, lineEnd, &runIdentity, &reason)) {
            remember(bytes);
            return;
        }
        // A file moved away, replaced, or a link put in its place: the path
        // no longer leads to what this run wrote.
        const bool lost = runIdentity.known && (reason == QLatin1String("another file") ||
                                                !nameIsTaken(path) || reason == systemReason(ELOOP));
        if (lost)
            qCDebug(lcResults) << QStringLiteral(
                                      "FileOperation: %1 is no longer the file this run created")
                                      .arg(path);
        else
            reportWriteFailure(path, reason);
        if (!divertToRecovery()) {
            failedPieces += 1;
            remember(bytes);
            return;
        }
    }
    // A recovery file that failed once takes nothing more: it would be spliced.
    if (recoveryPath.isEmpty() || recoveryFailed ||
        !appendWhole(recoveryPath, Open::Existing, bytes, lineEnd, &recoveryIdentity, &reason)) {
        failedPieces += 1;
        if (!recoveryPath.isEmpty() && !recoveryFailed)
            qCDebug(lcResults)
                << QStringLiteral("FileOperation: cannot write %1: %2").arg(recoveryPath, reason);
        recoveryFailed = true;
    }
    remember(bytes);
}

bool FileOperation::syncPath(const QString &path, const Identity &identity, QString *reason)
{
    const int fd = calls.open(QFile::encodeName(path).constData(), O_WRONLY | O_NOFOLLOW, 0);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    struct stat status
    {};
    bool ok = ::fstat(fd, &status) == 0 &&
              (!identity.known || sameFile(status, identity.device, identity.inode, identity.change));
    if (!ok)
        *reason = QStringLiteral("another file");
    if (ok && calls.syncData(fd) != 0) {
        *reason = systemReason(errno);
        ok = false;
    }
    if (calls.close(fd) != 0 && ok) {
        *reason = systemReason(errno);
        ok = false;
    }
    return ok;
}

bool FileOperation::SyncResultFile()
{
    if (runPath.isEmpty() || folderNotSynced)
        return false;
    QString reason;
    const bool intoRecovery = diverted;
    if (intoRecovery && (recoveryPath.isEmpty() || recoveryFailed))
        return false;
    const QString path = intoRecovery ? recoveryPath : runPath;
    if (syncPath(path, intoRecovery ? recoveryIdentity : runIdentity, &reason))
        return true;
    qCDebug(lcResults) << QStringLiteral("FileOperation: cannot sync %1: %2").arg(path, reason);
    return false;
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
        for (int number = 1; number <= kMaxNameNumber; ++number) {
            const QString candidate =
                folder + QLatin1Char('/') + name +
                (number == 1 ? QStringLiteral(".txt") : QStringLiteral(" (%1).txt").arg(number));
            if (nameIsTaken(RunRecord::pathFor(candidate)))
                continue;
            QString reason;
            if (appendWhole(candidate, Open::CreateAlone, preamble + openRow, true,
                            &recoveryIdentity, &reason)) {
                if (!syncFolderOf(calls, candidate))
                    folderNotSynced = true;
                recoveryPath = candidate;
                qCDebug(lcResults)
                    << QStringLiteral("FileOperation: the rest of the run goes to %1").arg(candidate);
                return true;
            }
            if (errno != EEXIST)
                break;
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

// Pure function of its inputs (the estimate is progressFigures'). Without a
// completed step (or without steps) there is nothing to extrapolate from, so
// the text shows "--" in place of a time and the percentage is 0.
void FileOperation::ProgressText(QString &text, int &percent, qint64 elapsedMs, qint64 total,
                                 qint64 done)
{
    const ProgressFigures figures = progressFigures(elapsedMs, total, done);
    percent = figures.percent;
    text = figures.known ? QStringLiteral("进度：%1%  ( ").arg(percent) +
                               remainingTimeText(figures.remainingMs) + QStringLiteral(" )")
                         : QStringLiteral("进度：0%  ( -- )");
}
