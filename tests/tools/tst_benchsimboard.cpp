// The benchsim-board program: the application's UART reaches it through the
// device link it prints, it records what it received, and it tidies up when
// stopped.

#include "context/TestContext.h"
#include "serial/UART.h"
#include "tests/support/ContextReset.h"
#include "tests/support/SimulatorProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TestBenchsimBoard : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetTestContext(); }
    void cleanup() { resetTestContext(); }
    void run_recordsFramesAndTidiesUp();
    void start_refusesToReplaceAFile();

private:
    QTemporaryDir dir;
};

void TestBenchsimBoard::run_recordsFramesAndTidiesUp()
{
    const QString link = dir.filePath(QStringLiteral("board"));
    const QString pathFile = dir.filePath(QStringLiteral("board.path"));
    // The stale link of a crashed run is replaced.
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-device"), link));

    SimulatorProcess board(SimulatorProcess::Program::Board);
    QVERIFY2(board.start({"--link", link, "--path-file", pathFile}), qPrintable(board.error()));
    QCOMPARE(board.firstLine(), link);
    QCOMPARE(readAll(pathFile), QFile::encodeName(link) + '\n');
    QVERIFY(QFileInfo(link).isSymLink());

    UART uart;
    TestContext.uart.port.setPortName(link);
    QCOMPARE(uart.Open(TestContext.uart), 0);
    uart.SendValue(TestContext.uart, 1);
    uart.SendValue(TestContext.uart, -1);
    uart.SendString(TestContext.uart, QStringLiteral("AT\r\n"));
    uart.SendValue(TestContext.uart, 255);
    const QStringList expected{"value 1", "value -1", "bad 41 54 0d 0a", "value 255"};
    QTRY_COMPARE(board.transcript(), expected);
    uart.Close(TestContext.uart);

    QCOMPARE(board.stop(SIGTERM), 0);
    QVERIFY(!QFileInfo(link).exists());
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(pathFile));
    QCOMPARE(board.transcript(), expected);
}

void TestBenchsimBoard::start_refusesToReplaceAFile()
{
    const QString notALink = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile file(notALink);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me\n");
    }

    SimulatorProcess board(SimulatorProcess::Program::Board);
    QVERIFY(!board.start({"--link", notALink}));
    QCOMPARE(board.process().exitCode(), 1);
    QVERIFY2(board.error().contains("not a symbolic link"), qPrintable(board.error()));
    QCOMPARE(readAll(notALink), QByteArray("keep me\n"));
}

QTEST_GUILESS_MAIN(TestBenchsimBoard)
#include "tst_benchsimboard.moc"
