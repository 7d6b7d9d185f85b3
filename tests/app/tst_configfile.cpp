// The three default instrument addresses kept in config.ini beside the executable.
#include "app/MainWindow.h"
#include "settings/ConfigLocation.h"
#include "tests/support/ContextReset.h"
#include "tests/support/FileBytes.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPwrDefault = QStringLiteral("TCPIP0::192.0.2.10::5025::SOCKET");
const QString kOscDefault = QStringLiteral("TCPIP0::198.51.100.20::5025::SOCKET");

QString configPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

} // namespace

class tst_ConfigFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void unstoredAddressesTakeTheDefaults();
    void loadingDoesNotSave();
    void leavingAnyFieldSavesAllThree();
    void installedProgramFolderGetsNoNewFile();

private:
    QLineEdit *field(const char *name) { return window->findChild<QLineEdit *>(name); }
    void openWindow() { window = new MainWindow; }
    void finishEditing(QLineEdit *edit, const QString &text);

    MainWindow *window = nullptr;
};

void tst_ConfigFile::init()
{
    resetTestContext();
    QFile::remove(configPath());
}

void tst_ConfigFile::cleanup()
{
    delete window;
    window = nullptr;
    QFile::remove(configPath());
}

void tst_ConfigFile::finishEditing(QLineEdit *edit, const QString &text)
{
    edit->setEnabled(true);
    edit->setText(text);
    emit edit->editingFinished();
    configSettings->sync();
}

// An address missing from the file or stored empty takes the form's default, which is
// stored in its place; nothing but the addresses is written at start.
void tst_ConfigFile::unstoredAddressesTakeTheDefaults()
{
    QVERIFY(writeFileBytes(configPath(), "[defaultAddr]\nDMM=GPIB0::9::INSTR\nPWR=\n"));
    openWindow();
    QCOMPARE(field("addrdmm")->text(), QStringLiteral("GPIB0::9::INSTR"));
    QCOMPARE(field("addrpwr")->text(), kPwrDefault);
    QCOMPARE(field("addrosc")->text(), kOscDefault);
    configSettings->sync();
    QSettings stored(configPath(), QSettings::IniFormat);
    QCOMPARE(stored.childGroups(), QStringList({"defaultAddr"}));
    QCOMPARE(stored.value("defaultAddr/DMM").toString(), QStringLiteral("GPIB0::9::INSTR"));
    QCOMPARE(stored.value("defaultAddr/PWR").toString(), kPwrDefault);
    QCOMPARE(stored.value("defaultAddr/OSC").toString(), kOscDefault);
}

void tst_ConfigFile::loadingDoesNotSave()
{
    // The store rewrites the whole file when it saves, dropping the comment.
    const QByteArray text = "; kept by hand\n[defaultAddr]\nDMM=GPIB0::9::INSTR\n"
                            "PWR=GPIB0::10::INSTR\nOSC=GPIB0::11::INSTR\n";
    QVERIFY(writeFileBytes(configPath(), text));
    openWindow();
    configSettings->sync();
    QCoreApplication::processEvents();
    QCOMPARE(fileBytes(configPath()), text);
}

void tst_ConfigFile::leavingAnyFieldSavesAllThree()
{
    QVERIFY(writeFileBytes(
        configPath(),
        "[defaultAddr]\nDMM=GPIB0::9::INSTR\nPWR=GPIB0::10::INSTR\nOSC=GPIB0::11::INSTR\n"));
    openWindow();
    field("addrdmm")->setText(QStringLiteral("GPIB0::12::INSTR")); // edited, not yet left
    finishEditing(field("addrosc"), QStringLiteral("GPIB0::13::INSTR"));
    QSettings stored(configPath(), QSettings::IniFormat);
    QCOMPARE(stored.value("defaultAddr/DMM").toString(), QStringLiteral("GPIB0::12::INSTR"));
    QCOMPARE(stored.value("defaultAddr/PWR").toString(), QStringLiteral("GPIB0::10::INSTR"));
    QCOMPARE(stored.value("defaultAddr/OSC").toString(), QStringLiteral("GPIB0::13::INSTR"));

    // A cleared field is kept as an empty value, which the next start reads as the default.
    finishEditing(field("addrpwr"), QString());
    stored.sync();
    QVERIFY(stored.contains("defaultAddr/PWR"));
    QCOMPARE(stored.value("defaultAddr/PWR").toString(), QString());
}

// The folder a package puts the programs in is read from, never written to,
// whoever runs them; any other writable folder takes the file.
void tst_ConfigFile::installedProgramFolderGetsNoNewFile()
{
    QTemporaryDir programs, user;
    const QString beside = programs.filePath("config.ini");
    QCOMPARE(configFilePath(programs.path(), user.path(), "/usr/bin"), beside);
    QCOMPARE(configFilePath(programs.path(), user.path(), programs.path() + '/'),
             user.filePath("config.ini"));
    QFile placed(beside);
    QVERIFY(placed.open(QIODevice::WriteOnly));
    placed.close();
    QCOMPARE(configFilePath(programs.path(), user.path(), programs.path()), beside);
}

QTEST_MAIN(tst_ConfigFile)
#include "tst_configfile.moc"
