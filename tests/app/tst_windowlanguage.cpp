// Which language the window speaks: Chinese to Chinese locales and to the
// C/POSIX locale, English to every other; the first entry of LANGUAGE decides.
// The rule on its own, then the real program started under a few locales on a
// private X server, read back from its window title.
#include "app/WindowLanguage.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(WindowLanguage)

namespace {

constexpr char kChineseTitle[] = "自动化测试工具 by Ravensel";
constexpr char kEnglishTitle[] = "Automated Test Tool by Ravensel";

// The locale variables a test sets; everything else of the caller's locale is
// taken out, so that the row alone decides.
const char *const kLocaleVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

QProcessEnvironment withoutLocale(QProcessEnvironment environment)
{
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("LC_")) || name == QLatin1String("LANG") ||
            name == QLatin1String("LANGUAGE"))
            environment.remove(name);
    }
    return environment;
}

// "LANG=de_DE.UTF-8 LANGUAGE=zh_CN:en" as an environment.
QProcessEnvironment localeEnvironment(const QProcessEnvironment &base, const QString &settings)
{
    QProcessEnvironment environment = withoutLocale(base);
    for (const QString &setting : settings.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        environment.insert(setting.section(QLatin1Char('='), 0, 0),
                           setting.section(QLatin1Char('='), 1));
    return environment;
}

} // namespace

class tst_WindowLanguage : public QObject
{
    Q_OBJECT

private slots:
    void environment_data();
    void environment();
    void windowProgramShowsTheLanguage_data();
    void windowProgramShowsTheLanguage();
    void cleanupTestCase();

private:
    // Starts Xvfb once for the program rows; returns its display (":N").
    QString display();

    QProcess xServer;
    QString xDisplay;
};

void tst_WindowLanguage::environment_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<WindowLanguage>("language");
    const WindowLanguage zh = WindowLanguage::Chinese;
    const WindowLanguage en = WindowLanguage::English;
    QTest::newRow("nothing set") << "" << zh;
    QTest::newRow("LANG") << "LANG=en_GB.UTF-8" << en;
    QTest::newRow("another Chinese locale") << "LANG=zh_TW.Big5" << zh;
    QTest::newRow("script, no country") << "LANG=zh-Hans" << zh;
    QTest::newRow("C") << "LANG=C.UTF-8" << zh;
    QTest::newRow("POSIX") << "LANG=POSIX" << zh;
    QTest::newRow("modifier") << "LANG=fr_FR@euro" << en;
    // Languages whose code merely starts like C or zh.
    QTest::newRow("Catalan") << "LANG=ca_ES.UTF-8" << en;
    QTest::newRow("Cherokee") << "LANG=chr_US" << en;
    QTest::newRow("Zulu") << "LANG=zu_ZA" << en;
    QTest::newRow("LC_MESSAGES over LANG") << "LANG=en_GB.UTF-8 LC_MESSAGES=zh_CN.UTF-8" << zh;
    QTest::newRow("LC_ALL over LC_MESSAGES") << "LC_MESSAGES=zh_CN.UTF-8 LC_ALL=de_DE.UTF-8" << en;
    QTest::newRow("LANGUAGE over LC_ALL") << "LC_ALL=de_DE.UTF-8 LANGUAGE=zh_CN:en" << zh;
    QTest::newRow("LANGUAGE first entry") << "LANG=zh_CN.UTF-8 LANGUAGE=en:zh_CN" << en;
    QTest::newRow("LANGUAGE over C") << "LANG=C LANGUAGE=fr" << en;
    QTest::newRow("LANGUAGE empty") << "LANG=fr_FR.UTF-8 LANGUAGE=" << en;
    QTest::newRow("LANGUAGE empty entry") << "LANG=fr_FR.UTF-8 LANGUAGE=:zh_TW" << zh;
    QTest::newRow("LC_ALL empty") << "LC_ALL= LANG=zh_CN.UTF-8" << zh;
}

void tst_WindowLanguage::environment()
{
    QFETCH(QString, settings);
    QFETCH(WindowLanguage, language);
    QCOMPARE(windowLanguage(localeEnvironment(QProcessEnvironment(), settings)), language);
}

void tst_WindowLanguage::windowProgramShowsTheLanguage_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("title");
    QTest::newRow("C") << "LANG=C" << kChineseTitle;
    QTest::newRow("de_DE") << "LANG=de_DE.UTF-8" << kEnglishTitle;
    QTest::newRow("LANGUAGE=zh_CN:en") << "LANG=de_DE.UTF-8 LANGUAGE=zh_CN:en" << kChineseTitle;
}

// The title is the window's first text and comes from the same translation as
// every other caption.
void tst_WindowLanguage::windowProgramShowsTheLanguage()
{
    QFETCH(QString, settings);
    QFETCH(QString, title);
    const QString x = display();
    QVERIFY2(!x.isEmpty(), "Xvfb did not start (scripts/setup installs xvfb)");

    QTemporaryDir home;
    QProcessEnvironment environment =
        localeEnvironment(QProcessEnvironment::systemEnvironment(), settings);
    environment.insert("DISPLAY", x);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
    environment.insert("BENCHTEST_CONFIG", home.path() + "/config.ini");
    // On a display, the keyboard library hands strndup a name without a
    // terminating NUL, which is allowed but which the sanitizers' strict
    // string checks report: not our code, so not checked that strictly.
    if (environment.contains("ASAN_OPTIONS"))
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":strict_string_checks=0");
    QProcess window;
    window.setProcessEnvironment(environment);
    window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    window.start(BENCHTEST_WINDOW, QStringList());
    QVERIFY2(window.waitForStarted(), qPrintable(window.errorString()));
    const auto stop = qScopeGuard([&window] {
        window.kill();
        window.waitForFinished();
    });

    // The top-level windows of the display with their names, until the
    // program's is there.
    static const QRegularExpression titled(QStringLiteral("\"(.* by Ravensel  \\[ [^\"]*)\""));
    QString shown;
    QElapsedTimer waited;
    waited.start();
    while (shown.isEmpty() && window.state() == QProcess::Running && waited.elapsed() < 20000) {
        QProcess list;
        QProcessEnvironment listEnvironment =
            withoutLocale(QProcessEnvironment::systemEnvironment());
        listEnvironment.insert("LC_ALL", "C.UTF-8");
        list.setProcessEnvironment(listEnvironment);
        list.start("xwininfo", {"-display", x, "-root", "-children"});
        QVERIFY2(list.waitForFinished(10000) && list.exitCode() == 0,
                 "xwininfo failed (scripts/setup installs x11-utils)");
        shown = titled.match(QString::fromUtf8(list.readAllStandardOutput())).captured(1);
        if (shown.isEmpty())
            QTest::qWait(100);
    }
    QVERIFY2(!shown.isEmpty(), "the window did not appear");
    QVERIFY2(shown.startsWith(title + "  [ "), qPrintable(shown));
}

QString tst_WindowLanguage::display()
{
    if (!xDisplay.isEmpty() || xServer.state() != QProcess::NotRunning)
        return xDisplay;
    // -displayfd: the server picks a free display and writes its number.
    // -noreset: a server that resets when its last client goes refuses the
    // next row's window for a moment.
    xServer.start(
        "Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0", "800x600x24"});
    if (!xServer.waitForStarted())
        return QString();
    QElapsedTimer waited;
    waited.start();
    while (!xServer.canReadLine() && xServer.state() == QProcess::Running &&
           waited.elapsed() < 20000)
        xServer.waitForReadyRead(1000);
    const QByteArray number = xServer.readLine().trimmed();
    if (!number.isEmpty())
        xDisplay = QLatin1Char(':') + QString::fromLatin1(number);
    return xDisplay;
}

void tst_WindowLanguage::cleanupTestCase()
{
    xServer.terminate();
    xServer.waitForFinished();
}

QTEST_GUILESS_MAIN(tst_WindowLanguage)
#include "tst_windowlanguage.moc"
