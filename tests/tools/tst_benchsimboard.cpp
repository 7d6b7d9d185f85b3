// The benchsim-board program: the application's UART reaches it through the
// device link it prints, it records what it received, and it tidies up on
// SIGTERM and SIGINT.

#include "TestContext.h"
#include "UART.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Back to no port chosen, as at the start of the process.
static void resetSerialLink()
{
    TestContext.uart.port.close();
    TestContext.uart.port.setPortName(QString());
    TestContext.uart.portInfo = QSerialPortInfo();
}

class TestBenchsimBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void run_recordsFramesAndTidiesUpOnSignal_data();
    void run_recordsFramesAndTidiesUpOnSignal();
    void start_refusesToReplaceAFile();

private:
    QTemporaryDir dir;
    QProcess board;
};

void TestBenchsimBoard::init()
{
    QVERIFY(dir.isValid());
    resetSerialLink();
}

void TestBenchsimBoard::cleanup()
{
    resetSerialLink();
    if (board.state() != QProcess::NotRunning) {
        board.kill();
        board.waitForFinished(2000);
    }
}

void TestBenchsimBoard::run_recordsFramesAndTidiesUpOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("staleLink");

    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("stale link of a crashed run") << int(SIGTERM) << true;
}

void TestBenchsimBoard::run_recordsFramesAndTidiesUpOnSignal()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, staleLink);

    const QString link = dir.filePath(QStringLiteral("board"));
    const QString pathFile = dir.filePath(QStringLiteral("board.path"));
    const QString transcript = dir.filePath(QStringLiteral("transcript.txt"));
    if (staleLink)
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-device"), link));

    board.start(QStringLiteral(BENCHSIM_BOARD),
                {QStringLiteral("--link"), link, QStringLiteral("--path-file"), pathFile,
                 QStringLiteral("--transcript"), transcript});
    QVERIFY(board.waitForStarted(5000));
    QTRY_VERIFY(board.canReadLine());
    QCOMPARE(board.readLine(), QFile::encodeName(link) + '\n');
    QCOMPARE(readAll(pathFile), QFile::encodeName(link) + '\n');
    QVERIFY(QFileInfo(link).isSymLink());

    UART uart;
    TestContext.uart.port.setPortName(link);
    QCOMPARE(uart.Open(TestContext.uart), 0);
    uart.SendValue(TestContext.uart, 1);
    uart.SendValue(TestContext.uart, 1000);
    uart.SendValue(TestContext.uart, -1);
    uart.SendString(TestContext.uart, QStringLiteral("AT\r\n"));
    uart.SendValue(TestContext.uart, 255);

    const QByteArray expected = "value 1\n"
                                "value 1000\n"
                                "value -1\n"
                                "bad 41 54 0d 0a\n"
                                "value 255\n";
    QTRY_COMPARE(readAll(transcript), expected);
    uart.Close(TestContext.uart);

    ::kill(pid_t(board.processId()), signalNumber);
    QVERIFY(board.waitForFinished(5000));
    QCOMPARE(board.exitStatus(), QProcess::NormalExit);
    QCOMPARE(board.exitCode(), 0);
    QVERIFY(!QFileInfo(link).exists());
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(pathFile));
    QCOMPARE(readAll(transcript), expected);
}

void TestBenchsimBoard::start_refusesToReplaceAFile()
{
    const QString notALink = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile file(notALink);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me\n");
    }

    board.start(QStringLiteral(BENCHSIM_BOARD), {QStringLiteral("--link"), notALink});
    QVERIFY(board.waitForFinished(5000));
    QCOMPARE(board.exitStatus(), QProcess::NormalExit);
    QCOMPARE(board.exitCode(), 1);
    QVERIFY(board.readAllStandardError().contains("not a symbolic link"));
    QCOMPARE(readAll(notALink), QByteArray("keep me\n"));
}

QTEST_GUILESS_MAIN(TestBenchsimBoard)
#include "tst_benchsimboard.moc"
