// The result folder fails: missing, read-only, removed mid-run, and a disk
// that fills up mid-run. The run goes on, the failure is logged once, and
// whatever reached the disk before the fault stays there intact.
#include "ReliabilityLog.h"
#include "ResultFile.h"
#include "WindowDriver.h"
#include "SimulatedBench.h"
#include "TestContext.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString kGroup = QStringLiteral("Result folder");
const QString kNormal = QStringLiteral("+1.23456789E+00");
const QString kMeasured = QStringLiteral("TestThread: DMM Measure: ");
const QString kCannotWrite = QStringLiteral("\"FileOperation: cannot write ");

// Keeps the process's file-size limit at `bytes` while it exists; writes
// beyond it fail with EFBIG, as on a full disk, instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    bool isActive() const { return active; }

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
    bool active = false;
};

} // namespace

class tst_FolderFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void missingFolder();
    void readOnlyFolder();
    void folderRemovedMidRun();
    void diskFillsMidRun();

private:
    // Runs until `readings` readings are logged, then stops with autotest.
    void runAndStop(int readings);
    // The one log line about the result file, checked to name `path`.
    QString writeFailure(const QString &path);
    // Records a case in which the run went on past the fault and logged it once.
    void recordKeptRunning(const QString &name, const QString &logged, const QString &onDisk);

    SimulatedBench bench;
    WindowDriver *run = nullptr;
};

void tst_FolderFaults::initTestCase()
{
    ReliabilityLog::begin();
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    // An unprivileged run must still reach the board.
    QVERIFY(!Unprivileged::isRoot() || Unprivileged::openToAll(bench.boardPath()));
}

void tst_FolderFaults::init()
{
    run = new WindowDriver(bench);
    QVERIFY(Unprivileged::openToAll(run->resultsFolder()));
    run->setParams({"50", "10", "1", "10"});
}

void tst_FolderFaults::cleanup()
{
    delete run;
    run = nullptr;
}

void tst_FolderFaults::runAndStop(int readings)
{
    if (run->isIdle())
        run->clickStart();
    QVERIFY2(QTest::qWaitFor([&] { return run->logCount(kMeasured) >= readings; }, 10000),
             "the run stalled");
    QVERIFY(!run->isIdle());
    QVERIFY(run->stopAndStayStopped());
}

QString tst_FolderFaults::writeFailure(const QString &path)
{
    const QString line = run->logLine(kCannotWrite);
    if (run->logCount(kCannotWrite) != 1 || !line.startsWith(kCannotWrite + path + ": "))
        return QString();
    return line;
}

void tst_FolderFaults::recordKeptRunning(const QString &name, const QString &logged,
                                         const QString &onDisk)
{
    ReliabilityLog::add(kGroup, name,
                        QStringLiteral("kept running, stopped by autotest after %1 readings; "
                                       "the line came once; log: %2")
                            .arg(run->logCount(kMeasured))
                            .arg(logged),
                        onDisk);
}

void tst_FolderFaults::missingFolder()
{
    const QString folder = run->resultsFolder() + QStringLiteral("/not-there");
    TestContext.savePath = folder;
    runAndStop(4);
    const QString logged = writeFailure(TestContext.resultFilePath);
    QVERIFY2(!logged.isEmpty(), qPrintable(run->log().lines().join('\n')));
    QVERIFY(TestContext.resultFilePath.startsWith(folder + QStringLiteral("/[AutoTest][")));
    QVERIFY(!QFileInfo::exists(folder));
    recordKeptRunning(QStringLiteral("missing"), logged,
                      QStringLiteral("no result file; the folder is not created"));
}

void tst_FolderFaults::readOnlyFolder()
{
    const QString folder = run->resultsFolder() + QStringLiteral("/read-only");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                              QFile::ExeOther));
    TestContext.savePath = folder;
    {
        Unprivileged asUser;
        QFile probe(folder + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            ReliabilityLog::add(kGroup, QStringLiteral("read-only"),
                                QStringLiteral("not run: the folder stays writable for this user"),
                                QStringLiteral("-"));
            QSKIP("the folder stays writable for this user");
        }
        runAndStop(4);
    }
    const QString logged = writeFailure(TestContext.resultFilePath);
    QVERIFY2(!logged.isEmpty(), qPrintable(run->log().lines().join('\n')));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    recordKeptRunning(QStringLiteral("read-only"), logged,
                      QStringLiteral("no result file in the folder"));
}

void tst_FolderFaults::folderRemovedMidRun()
{
    const QString folder = run->resultsFolder() + QStringLiteral("/run");
    const QString movedTo = run->resultsFolder() + QStringLiteral("/moved-away");
    QVERIFY(QDir().mkdir(folder));
    TestContext.savePath = folder;
    run->clickStart();
    QVERIFY(QTest::qWaitFor([&] { return run->logCount(kMeasured) >= 2; }, 5000));
    // The folder leaves its place, as a pulled USB stick or a removed share
    // does; moving it keeps what was written for the check.
    const int before = run->logCount(kMeasured);
    QVERIFY(QDir().rename(folder, movedTo));
    runAndStop(before + 3);

    const QString logged = writeFailure(TestContext.resultFilePath);
    QVERIFY2(!logged.isEmpty(), qPrintable(run->log().lines().join('\n')));
    QVERIFY(!QFileInfo::exists(folder));
    const QString moved =
        movedTo + QLatin1Char('/') + QFileInfo(TestContext.resultFilePath).fileName();
    const ResultFile file = ResultFile::read(moved);
    QVERIFY(file.exists);
    QVERIFY(file.stray.isEmpty());
    // Every reading taken before the folder went is in its file, no later one.
    QCOMPARE(file.readings(), QStringList(QList<QString>(before, kNormal)));
    recordKeptRunning(QStringLiteral("removed mid-run"), logged,
                      QStringLiteral("the moved folder's file: ") + file.describe() +
                          QStringLiteral("; no file re-created at the old place"));
}

void tst_FolderFaults::diskFillsMidRun()
{
    TestContext.savePath = run->resultsFolder();
    QByteArray onDisk;
    int readingsBefore = 0;
    const qint64 limit = 400; // the head block, the heading and a few rows
    {
        FileSizeLimit full{rlim_t(limit)};
        QVERIFY(full.isActive());
        run->clickStart();
        QVERIFY(QTest::qWaitFor([&] { return run->logCount(kCannotWrite) > 0 || run->isIdle(); },
                                10000));
        readingsBefore = run->logCount(kMeasured);
        runAndStop(readingsBefore + 3);
        onDisk = run->resultBytes();
    }
    const QString logged = writeFailure(TestContext.resultFilePath);
    QVERIFY2(!logged.isEmpty(), qPrintable(run->log().lines().join('\n')));
    QVERIFY2(logged.endsWith(QStringLiteral(": File too large\"")), qPrintable(logged));
    QCOMPARE(onDisk.size(), limit);

    // What the disk took is the run's text up to the limit: every reading
    // before the full disk is there whole, and the cut falls in the last piece.
    const ResultFile file = ResultFile::parse(onDisk);
    QCOMPARE(file.head.size(), 5);
    QCOMPARE(file.heading, QStringLiteral("No.\tDAC\tDMM1"));
    QVERIFY(file.stray.isEmpty());
    QStringList cells = file.readings();
    if (!cells.isEmpty() && cells.last() != kNormal && kNormal.startsWith(cells.last()))
        cells.removeLast(); // the reading the disk cut off
    QVERIFY(cells.size() >= readingsBefore - 1);
    QCOMPARE(cells, QStringList(QList<QString>(cells.size(), kNormal)));
    recordKeptRunning(QStringLiteral("disk fills mid-run (file size limit)"), logged,
                      QStringLiteral("%1 bytes up to the limit: ").arg(onDisk.size()) +
                          file.describe());
}

QTEST_MAIN(tst_FolderFaults)
#include "tst_folderfaults.moc"
