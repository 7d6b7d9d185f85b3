// Which language the window speaks: Chinese to Chinese locales and to the
// C/POSIX locale, English to every other; the first entry of LANGUAGE decides.
// The rule on its own, then the real program started under a few locales on a
// private X server, read back from its window title; and every text of the
// form fitting its widget in either language.
#include "app/WindowLanguage.h"
#include "app/form/MainWindowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>

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

// QLineEdit's own margin between its contents rectangle and the text.
constexpr int kLineEditTextMargin = 2;

struct Fit
{
    QString where; // "label_4", "filename (placeholder)"
    QString text;
    int width = 0; // the text's
    int room = 0;  // what the widget gives it
};

// `text` in the widget's font, against `room`.
Fit fit(const QWidget *widget, const QString &where, const QString &text, int room)
{
    return {where, text, widget->fontMetrics().horizontalAdvance(text), room};
}

Fit buttonFit(const QPushButton *button, const QString &text)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return fit(button, button->objectName(), text, room.width());
}

Fit checkBoxFit(const QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    return fit(box, box->objectName(), box->text(), room.width());
}

Fit placeholderFit(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents =
        edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    const int room = contents.width() - margins.left() - margins.right() - 2 * kLineEditTextMargin;
    return fit(edit, edit->objectName() + " (placeholder)", edit->placeholderText(), room);
}

QList<Fit> comboBoxFits(const QComboBox *list)
{
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    option.frame = list->hasFrame();
    const QRect room = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                     QStyle::SC_ComboBoxEditField, list);
    QList<Fit> fits;
    for (int i = 0; i < list->count(); ++i)
        fits << fit(list, QStringLiteral("%1 (entry %2)").arg(list->objectName()).arg(i),
                    list->itemText(i), room.width());
    return fits;
}

Fit groupBoxFit(const QGroupBox *box)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    // The label is as wide as the title; it must end inside the box.
    return {box->objectName() + " (title)", box->title(), label.right() + 1, box->width()};
}

// The tabs are as wide as their titles; together they must fit the tab
// widget, or the bar scrolls and hides a title.
Fit tabBarFit(const QTabWidget *tabs)
{
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    return {tabs->objectName() + " (tab titles)", titles.join(" | "),
            tabs->tabBar()->sizeHint().width(), tabs->width()};
}

QList<Fit> formFits(const QMainWindow &window)
{
    QList<Fit> fits;
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (!label->objectName().isEmpty() && !label->text().isEmpty())
            fits << fit(label, label->objectName(), label->text(), label->contentsRect().width());
    }
    for (const QPushButton *button : window.findChildren<QPushButton *>()) {
        if (!button->objectName().isEmpty())
            fits << buttonFit(button, button->text());
    }
    for (const QCheckBox *box : window.findChildren<QCheckBox *>())
        fits << checkBoxFit(box);
    for (const QLineEdit *edit : window.findChildren<QLineEdit *>()) {
        if (!edit->placeholderText().isEmpty())
            fits << placeholderFit(edit);
    }
    for (const QComboBox *list : window.findChildren<QComboBox *>())
        fits << comboBoxFits(list);
    for (const QGroupBox *box : window.findChildren<QGroupBox *>())
        fits << groupBoxFit(box);
    for (const QTabWidget *tabs : window.findChildren<QTabWidget *>())
        fits << tabBarFit(tabs);
    return fits;
}

QString describe(const QList<Fit> &fits)
{
    QStringList lines;
    for (const Fit &fit : fits)
        lines << QStringLiteral("%1 \"%2\": %3 px of text in %4 px")
                     .arg(fit.where, fit.text)
                     .arg(fit.width)
                     .arg(fit.room);
    return lines.join('\n');
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
    void everyTextFits_data();
    void everyTextFits();
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
}

// The title is the window's first text and comes from the same translation as
// every other caption. Which variable wins is environment()'s.
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
    // The build date as the compiler writes it: "Dec  7 2026".
    static const QRegularExpression dated(
        QStringLiteral("  \\[ [A-Z][a-z]{2} [ 1-3]\\d \\d{4} \\]$"));
    QVERIFY2(shown.startsWith(title + "  [ ") && dated.match(shown).hasMatch(), qPrintable(shown));
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

// Every caption and placeholder of the window fits its widget, in Chinese and
// in English: the text's width in the widget's font against the room the
// style leaves it. The form's geometry is fixed, so a longer translation
// would be cut off rather than widen its widget.
void tst_WindowLanguage::everyTextFits_data()
{
    QTest::addColumn<WindowLanguage>("language");
    QTest::newRow("Chinese") << WindowLanguage::Chinese;
    QTest::newRow("English") << WindowLanguage::English;
}

void tst_WindowLanguage::everyTextFits()
{
    QFETCH(WindowLanguage, language);
    const std::unique_ptr<QTranslator> translator(installWindowLanguage(language));
    QCOMPARE(translator != nullptr, language == WindowLanguage::English);

    QMainWindow window;
    MainWindowForm form;
    form.SetupForm(&window);
    window.setFixedSize(720, 520);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QList<Fit> fits = formFits(window);
    QVERIFY(fits.size() > 40);
    // The captions the Start button takes during a run.
    for (const char *caption : {"正在测试", "退出单步"})
        fits << buttonFit(form.autotest, QCoreApplication::translate("MainWindow", caption));

    QList<Fit> clipped;
    for (const Fit &fit : fits) {
        QVERIFY2(fit.room > 0 && fit.width > 0, qPrintable(describe({fit})));
        if (fit.width > fit.room)
            clipped << fit;
    }
    QVERIFY2(clipped.isEmpty(), qPrintable("cut off:\n" + describe(clipped)));
}

QTEST_MAIN(tst_WindowLanguage)
#include "tst_windowlanguage.moc"
