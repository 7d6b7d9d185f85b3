// The configuration file beside the executable fails: it cannot be read, it
// is corrupt, or its folder cannot be written. The window still opens, says
// why the stored addresses are missing, and a run works.
#include "app/MainWindow.h"
#include "tests/faults/ResultFile.h"
#include "tests/faults/Unprivileged.h"
#include "tests/support/FileBytes.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QString kDefaultMeter = QStringLiteral("GPIB0::5::INSTR"); // the form's own text
const QString kNormal = QStringLiteral("+1.23456789E+00");

QString configPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

} // namespace

class tst_ConfigFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void unreadable();
    void corrupt();
    void unwritableFolder();
    void readOnlyFile();
    void notARegularFile_data();
    void notARegularFile();

private:
    // The operator types the meter's address, leaves the field and runs two
    // readings; true when both are in the result file.
    void typeAddressAndRun(WindowDriver &run);

    SimulatedBench bench;
    QTemporaryDir userConfig;
};

void tst_ConfigFaults::initTestCase()
{
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    QVERIFY(!Unprivileged::isRoot() || Unprivileged::openToAll(bench.boardPath()));
    // Where the window keeps the addresses when its own folder is read-only.
    QVERIFY(Unprivileged::openToAll(userConfig.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(userConfig.path()));
}

void tst_ConfigFaults::init()
{
    QFile::remove(configPath());
}

void tst_ConfigFaults::cleanup()
{
    // The store outlives its window; the next case must not inherit it.
    delete configSettings;
    configSettings = nullptr;
    QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(configPath());
}

void tst_ConfigFaults::typeAddressAndRun(WindowDriver &run)
{
    auto *field = run.window()->findChild<QLineEdit *>("addrdmm");
    field->setText(bench.meterResource());
    emit field->editingFinished();
    QCoreApplication::processEvents(); // the store writes back from the event loop
    run.setParams({"20", "10", "1", "10"});
    run.clickStart();
    QVERIFY(WindowDriver::waitUntil(
        [&] { return run.logCount(QStringLiteral("TestThread: DMM Measure: ")) >= 2; }, 5000));
    QVERIFY(run.stopAndStayStopped());
    const QStringList readings = ResultFile::parse(run.resultBytes()).readings();
    QVERIFY(readings.size() >= 2);
    QCOMPARE(readings.count(kNormal), readings.size());
}

void tst_ConfigFaults::unreadable()
{
    const QByteArray stored = "[defaultAddr]\nDMM=TCPIP0::127.0.0.1::5025::SOCKET\n";
    QVERIFY(writeFileBytes(configPath(), stored));
    QVERIFY(QFile::setPermissions(configPath(), QFile::WriteOwner));
    QVERIFY(Unprivileged::giveToUser(configPath()));

    QString named;
    {
        Unprivileged asUser;
        if (QFile(configPath()).open(QIODevice::ReadOnly)) {
            QSKIP("the file stays readable for this user");
        }
        WindowDriver run(bench);
        named = run.logLine(QStringLiteral("UI ERROR: Config File ["));
        QVERIFY2(
            named ==
                QStringLiteral("\"UI ERROR: Config File [%1] Not Readable\"").arg(configPath()),
            qPrintable(run.log().lines().join('\n')));
        QCOMPARE(run.meterAddressAtOpen(), kDefaultMeter);
        typeAddressAndRun(run);
        QCoreApplication::processEvents();
    }

    // The file that could not be read is not overwritten: fixing its rights
    // brings the stored addresses back.
    QVERIFY(QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(fileBytes(configPath()), stored);
}

void tst_ConfigFaults::corrupt()
{
    // Bytes that are no text, then a section header that never closes.
    QVERIFY(writeFileBytes(configPath(), QByteArray("\x8f\xff\x01garbage\n[defaultAddr\nDMM")));
    WindowDriver run(bench);
    const QString named = run.logLine(QStringLiteral("UI ERROR: Config File ["));
    QVERIFY2(named == QStringLiteral("\"UI ERROR: Config File [%1] Corrupt\"").arg(configPath()),
             qPrintable(run.log().lines().join('\n')));
    QCOMPARE(run.meterAddressAtOpen(), kDefaultMeter);
    typeAddressAndRun(run);

    // The next save replaces the unreadable text with the three addresses.
    delete configSettings;
    configSettings = nullptr;
    QSettings written(configPath(), QSettings::IniFormat);
    QCOMPARE(written.value("defaultAddr/DMM").toString(), bench.meterResource());
    QVERIFY(written.contains("defaultAddr/PWR") && written.contains("defaultAddr/OSC"));
}

void tst_ConfigFaults::unwritableFolder()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    // The tool's folder, whatever the program is called: the runner finds it too.
    const QString kept = userConfig.path() + QStringLiteral("/benchtest/benchtest/config.ini");
    QString named;
    {
        // Root only loses its rights; an ordinary user gets a read-only folder.
        const QFile::Permissions saved = QFile::permissions(exeDir);
        if (!Unprivileged::isRoot())
            QFile::setPermissions(exeDir, QFile::ReadOwner | QFile::ExeOwner);
        Unprivileged asUser;
        const bool writable = QFileInfo(exeDir).isWritable();
        if (!writable) {
            WindowDriver run(bench);
            named = run.logLine(QStringLiteral("is read-only, addresses are kept in"));
            typeAddressAndRun(run);
            QCoreApplication::processEvents();
        }
        QFile::setPermissions(exeDir, saved);
        if (writable) {
            QSKIP("the folder stays writable for this user");
        }
    }
    QCOMPARE(named,
             QStringLiteral("\"UI: %1 is read-only, addresses are kept in %2\"").arg(exeDir, kept));
    QVERIFY(!QFile::exists(configPath()));
    delete configSettings;
    configSettings = nullptr;
    QSettings written(kept, QSettings::IniFormat);
    QCOMPARE(written.value("defaultAddr/DMM").toString(), bench.meterResource());
}

void tst_ConfigFaults::readOnlyFile()
{
    // A lab's configuration the operator may not change: read, never replaced
    // by the user's folder or the form's defaults.
    const QString stored = QStringLiteral("TCPIP0::127.0.0.1::5025::SOCKET");
    const QByteArray text =
        "[defaultAddr]\nDMM=" + stored.toLatin1() + "\nPWR=GPIB0::6::INSTR\nOSC=GPIB0::7::INSTR\n";
    QVERIFY(writeFileBytes(configPath(), text));
    QVERIFY(QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::ReadOther));
    {
        Unprivileged asUser;
        if (QFileInfo(configPath()).isWritable()) {
            QSKIP("the file stays writable for this user");
        }
        WindowDriver run(bench);
        QCOMPARE(run.meterAddressAtOpen(), stored);
        QCOMPARE(run.logCount(QStringLiteral("addresses are kept in")), 0);
        QCOMPARE(run.logCount(QStringLiteral("UI ERROR: Config File")), 0);
        typeAddressAndRun(run);
        QCoreApplication::processEvents();
    }
    QCOMPARE(fileBytes(configPath()), text);
}

void tst_ConfigFaults::notARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "FIFO";
    QTest::newRow("device") << "device";
    QTest::newRow("folder") << "folder";
}

// A configuration path that names a FIFO, a device node (a private one, made
// here) or a folder: the window starts with its defaults at once
// (a FIFO would block a reader), says why, and never replaces the node, not
// even when the operator edits an address.
void tst_ConfigFaults::notARegularFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    const QByteArray name = QFile::encodeName(path);
    if (kind == "FIFO") {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    } else if (kind == "device") {
        // The null device's numbers, under a name of the test's own.
        if (::mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("mknod needs CAP_MKNOD");
    } else {
        QVERIFY(QDir().mkdir(path));
    }
    struct stat before = {};
    QCOMPARE(::stat(name.constData(), &before), 0);
    qputenv("BENCHTEST_CONFIG", name);
    const auto restore = qScopeGuard([] { qunsetenv("BENCHTEST_CONFIG"); });

    {
        WindowDriver run(bench);
        QCOMPARE(run.meterAddressAtOpen(), kDefaultMeter);
        const QString why = run.logLine(QStringLiteral("UI ERROR: Config File ["));
        QVERIFY2(why.contains(path) && why.contains(QStringLiteral("not a regular file")),
                 qPrintable(why));
        auto *field = run.window()->findChild<QLineEdit *>("addrdmm");
        field->setText(bench.meterResource());
        emit field->editingFinished();
        QCoreApplication::processEvents();
    }

    struct stat after = {};
    QCOMPARE(::stat(name.constData(), &after), 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_rdev, before.st_rdev);
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({QStringLiteral("config.ini")}));
}

QTEST_MAIN(tst_ConfigFaults)
#include "tst_configfaults.moc"
