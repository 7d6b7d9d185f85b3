#include "FileOperation.h"

#include "ResultFileName.h"
#include "TestContext.h"

#include <QDebug>
#include <QFile>
#include <QLoggingCategory>

#include <limits>

Q_LOGGING_CATEGORY(lcResults, "benchtest.results")

namespace {

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

FileOperation::FileOperation() : FileOperation([] { return QDateTime::currentDateTime(); }) {}

FileOperation::FileOperation(Clock clock) : clock(std::move(clock)) {}

FileOperation::~FileOperation() = default;

void FileOperation::CreateResultFile()
{
    writeFailureReported = false;
    failedPieces = 0;
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
    AppendText(TestContext.resultFilePath, head, true);
}

// Every piece opens and closes the file, so the file on disk is complete up to
// the last piece at any time. A piece that cannot be written is lost and the
// run goes on; the first such loss of a run is logged.
void FileOperation::AppendText(const QString &path, const QString &text, bool lineEnd)
{
    QFile file(path);
    // Unbuffered, so that a full disk fails the write that meets it, with
    // the system's reason; a buffered flush would report it as unknown.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                   QIODevice::Unbuffered)) {
        reportWriteFailure(path, file.errorString());
        return;
    }
    QByteArray bytes = text.toLocal8Bit();
    if (lineEnd)
        bytes += '\n'; // text mode turns it into the platform's line end
    // The system may take part of a piece and refuse the rest; asking again
    // for the rest brings the refusal and its reason.
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            reportWriteFailure(path, file.errorString());
            return;
        }
        written += count;
    }
}

void FileOperation::reportWriteFailure(const QString &path, const QString &reason)
{
    failedPieces += 1;
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
