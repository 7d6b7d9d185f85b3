// The result folder fails mid-run: moved away and made anew, or a disk that
// fills and frees again (a small tmpfs in a private mount namespace). The
// run's own file holds whole pieces only and nothing after the fault; the rest
// of the run goes to a recovery file that starts like the run's file; together
// they hold every step exactly once. A folder that cannot be written from the
// start is tst_fileoperation's.
#include "app/MainWindow.h"
#include "context/TestContext.h"
#include "record/RunRecord.h"
#include "tests/faults/ResultFile.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>

namespace {

const QString kNormal = QStringLiteral("+1.23456789E+00");
const QString kDiverted = QStringLiteral("FileOperation: the rest of the run goes to ");

// Fills a file system until it refuses more; removing the file frees it again.
bool fill(const QString &path)
{
    QFile filler(path);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    return true;
}

} // namespace

class tst_FolderFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void folderMovedAndMadeAnew();
    void diskFills_data();
    void diskFills();

private:
    // The result folder `name`, a 256 KiB tmpfs for this thread alone (a
    // private mount namespace); empty where that cannot be had.
    QString smallDisk(const QString &name) const;
    // The recovery file the log names, checked against the window's last word.
    QString recoveryFile() const;
    // The run's file and the recovery file hold every step of `steps` once,
    // whole, with no cell cut; the recovery file ends the run.
    void checkNothingLost(const ResultFile &own, const ResultFile &recovery, int steps);

    SimulatedBench bench;
    QTemporaryDir dataHome;
    WindowDriver *run = nullptr;
};

void tst_FolderFaults::initTestCase()
{
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
}

void tst_FolderFaults::init()
{
    bench.clearTranscripts();
    run = new WindowDriver(bench);
}

void tst_FolderFaults::cleanup()
{
    delete run;
    run = nullptr;
}

QString tst_FolderFaults::recoveryFile() const
{
    const QString line = run->logLine(kDiverted);
    if (line.isEmpty())
        return QString();
    const QString path = line.mid(line.indexOf(kDiverted) + kDiverted.size()).chopped(1);
    const QString status = run->window()->findChild<QLabel *>("Status")->text();
    return status.contains(path) ? path : QStringLiteral("not named in the window: ") + status;
}

void tst_FolderFaults::checkNothingLost(const ResultFile &own, const ResultFile &recovery,
                                        int steps)
{
    QVERIFY(own.stray.isEmpty() && recovery.stray.isEmpty());
    QVERIFY(!own.finished);
    QVERIFY(recovery.finished);
    QCOMPARE(recovery.head, own.head);
    QCOMPARE(recovery.head.size(), 5);
    QVERIFY(recovery.heading.startsWith(QStringLiteral("No.\tDAC\tDMM1")));
    const qsizetype columns = recovery.heading.count(QLatin1Char('\t')) + 1;

    // The run's own rows: whole ones, and perhaps one begun that the recovery
    // file starts again from its beginning.
    QList<QStringList> rows = own.rows;
    if (own.lastRowOpen) {
        const QStringList begun = rows.takeLast();
        QVERIFY(!recovery.rows.isEmpty());
        QCOMPARE(recovery.rows.first().mid(0, begun.size()), begun);
    }
    rows += recovery.rows;
    QCOMPARE(rows.size(), steps);
    for (int k = 1; k <= steps; ++k) {
        const QStringList &cells = rows[k - 1];
        QCOMPARE(cells.size(), columns);
        QCOMPARE(cells.mid(0, 2), QStringList({QString::number(k), QString::number(k)}));
        QCOMPARE(cells.mid(2), QStringList(QList<QString>(columns - 2, kNormal)));
    }
}

// A stick pulled and plugged in again, a share mounted again: the folder is
// back at its path, empty. The run must not start a headless file there.
void tst_FolderFaults::folderMovedAndMadeAnew()
{
    const QString folder = run->resultsFolder() + QStringLiteral("/run");
    const QString movedTo = run->resultsFolder() + QStringLiteral("/moved-away");
    QVERIFY(QDir().mkdir(folder));
    TestContext.savePath = folder;
    run->setParams({"8", "0", "2", "0"});
    run->clickStart();
    QVERIFY(WindowDriver::waitUntil([&] { return bench.boardValues().size() >= 3; }, 5000));
    QVERIFY(QDir().rename(folder, movedTo));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(run->waitIdle(20000));

    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    const ResultFile own = ResultFile::read(movedTo + QLatin1Char('/') +
                                            QFileInfo(TestContext.resultFilePath).fileName());
    const ResultFile recovery = ResultFile::read(recoveryFile());
    QVERIFY2(own.rows.size() >= 2, qPrintable(run->log().lines().join('\n')));
    checkNothingLost(own, recovery, 8);
}

QString tst_FolderFaults::smallDisk(const QString &name) const
{
    const QString folder = run->resultsFolder() + QLatin1Char('/') + name;
    // The namespace stays with the thread; unsharing again is harmless.
    if (!QDir().mkdir(folder) || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=256k") != 0)
        return QString();
    TestContext.savePath = folder;
    return folder;
}

void tst_FolderFaults::diskFills_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("intervalMs");
    QTest::addColumn<int>("fullAt"); // the step the disk fills at
    QTest::addColumn<int>("freeAt"); // and frees at; 0: never
    // 300 readings a row: a row is some 5 kB, more than a page of the tmpfs,
    // so every row needs a page the full disk does not have.
    QTest::newRow("fills at step 3, frees at step 7") << 12 << "0" << 3 << 7;
    // 300 readings 5 ms apart: a row takes well over a second, time enough
    // to fill the disk while the last one is taken.
    QTest::newRow("fills while the last row is taken") << 4 << "5" << 4 << 0;
}

// A piece is whole or absent, and nothing goes into the run's file once one
// was refused; the rest goes to the recovery file. Still no record says
// "running": the one beside the run's first file, written into the space it
// kept, says where the run went on and how it ended.
void tst_FolderFaults::diskFills()
{
    QFETCH(int, steps);
    QFETCH(QString, intervalMs);
    QFETCH(int, fullAt);
    QFETCH(int, freeAt);
    const QString folder = smallDisk(QStringLiteral("disk-%1").arg(steps));
    if (folder.isEmpty())
        QSKIP("no private mount namespace with a tmpfs here (needs CAP_SYS_ADMIN)");
    run->setParams({QString::number(steps), "0", "300", intervalMs});
    run->clickStart();
    const QString filler = folder + QStringLiteral("/filler");
    QVERIFY(WindowDriver::waitUntil([&] { return bench.boardValues().size() >= fullAt; }, 30000));
    QVERIFY(fill(filler));
    if (freeAt > 0) {
        QVERIFY(
            WindowDriver::waitUntil([&] { return bench.boardValues().size() >= freeAt; }, 20000));
        QVERIFY(QFile::remove(filler));
    }
    QVERIFY(run->waitIdle(20000));

    const QString refused = run->logLine(QStringLiteral("FileOperation: cannot write"));
    QVERIFY2(refused.endsWith(QStringLiteral(": No space left on device\"")), qPrintable(refused));
    const QString first = TestContext.resultFilePath;
    const ResultFile own = ResultFile::read(first);
    checkNothingLost(own, ResultFile::read(recoveryFile()), steps);
    QVERIFY(own.rows.size() <= (freeAt > 0 ? freeAt : steps));

    const std::optional<RunRecord> firstRecord = RunRecord::readBeside(first);
    QVERIFY2(firstRecord, qPrintable(RunRecord::pathFor(first)));
    QVERIFY(firstRecord->hasEnded());
    QCOMPARE(firstRecord->continuedIn, recoveryFile());
    const std::optional<RunRecord> lastRecord = RunRecord::readBeside(recoveryFile());
    QVERIFY(lastRecord);
    QCOMPARE(lastRecord->outcome.status, QStringLiteral("finished"));
    QVERIFY(!lastRecord->outcome.clean);
    QCOMPARE(lastRecord->outcome.stepsDone, steps);
    QCOMPARE(lastRecord->runId, firstRecord->runId);
    ::umount(QFile::encodeName(folder).constData());
}

QTEST_MAIN(tst_FolderFaults)
#include "tst_folderfaults.moc"
