// The window in Chinese, its built-in language, and in English: the captions
// follow the language; the result file and the log do not.
#include "MainWindow.h"
#include "SimulatedBench.h"
#include "WindowDriver.h"
#include "WindowLanguage.h"

#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextEdit>
#include <QTranslator>

namespace {

struct Sweep
{
    QString title;
    QString caption;
    QString description;
    QByteArray file;
    QStringList log;
};

// The start and completion times are the only bytes two runs may differ in.
QByteArray withoutTimes(QByteArray file)
{
    static const QRegularExpression stamp(QStringLiteral("\\[\\d{6} \\d{6}\\]"));
    return QString::fromUtf8(file).replace(stamp, QStringLiteral("[time]")).toUtf8();
}

} // namespace

class tst_WindowLanguage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sweepInBothLanguages();

private:
    Sweep sweep();

    SimulatedBench bench;
};

void tst_WindowLanguage::initTestCase()
{
    QVERIFY2(bench.start(), qPrintable(bench.error()));
}

Sweep tst_WindowLanguage::sweep()
{
    Sweep result;
    WindowDriver run(bench);
    result.title = run.window()->windowTitle();
    result.caption = run.window()->findChild<QPushButton *>("autotest")->text();
    result.description = run.window()->findChild<QTextEdit *>("testmsg")->toPlainText();
    run.setParams({"3", "0", "2", "0"});
    run.clickStart();
    if (!run.waitIdle(10000))
        return {};
    result.file = run.resultBytes();
    result.log = run.log().lines();
    return result;
}

void tst_WindowLanguage::sweepInBothLanguages()
{
    const Sweep chinese = sweep();
    QVERIFY(!installWindowLanguage(QLocale(QLocale::Chinese, QLocale::China)));
    QTranslator *translator =
        installWindowLanguage(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QVERIFY(translator);
    const Sweep english = sweep();
    QCoreApplication::removeTranslator(translator);
    delete translator;

    QCOMPARE(chinese.caption, QStringLiteral("自动测试"));
    QCOMPARE(english.caption, QStringLiteral("Auto test"));
    QVERIFY2(english.title.startsWith(QStringLiteral("Automated Test Tool by Ravensel  [ ")),
             qPrintable(english.title));
    QVERIFY2(english.description.contains(QStringLiteral("The multimeter measures the voltage")),
             qPrintable(english.description));

    QVERIFY(chinese.file.startsWith("测试项: [DAC - 串口发送DAC值，万用表采集电压]\n"));
    QCOMPARE(chinese.file.count('\n'), 11); // the whole sweep: head, heading, 3 rows, completion
    QCOMPARE(withoutTimes(english.file), withoutTimes(chinese.file));
    QCOMPARE(english.log, chinese.log);
}

QTEST_MAIN(tst_WindowLanguage)
#include "tst_windowlanguage.moc"
