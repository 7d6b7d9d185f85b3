// The window's widget tree against a checked-in dump: every widget's class,
// name, parent, geometry, state, texts and list entries, in creation order.
// After a deliberate change of the form, rewrite the dump with
// BENCHTEST_WRITE_GOLDEN=1 and review its diff.
#include "app/form/MainWindowForm.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QMainWindow>
#include <QMetaProperty>
#include <QTabWidget>
#include <QTest>

namespace {

const char *const kGolden = BENCHTEST_SOURCE_DIR "/tests/app/data/mainwindowform.txt";

// The properties that make up what an operator sees of a widget.
const char *const kShown[] = {"text",     "placeholderText", "title",       "windowTitle",
                              "toolTip",  "plainText",       "readOnly",    "checkState",
                              "editable", "currentIndex",    "textVisible", "value",
                              "minimum",  "maximum",         "enabled",     "checked"};

QString describe(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return QLatin1Char('"') + value.toString().replace("\n", "\\n") + QLatin1Char('"');
    return value.toString();
}

QString dumpWidget(const QWidget *widget)
{
    const QRect g = widget->geometry();
    QStringList line{
        QString::fromLatin1(widget->metaObject()->className()), widget->objectName(),
        widget->parentWidget() ? widget->parentWidget()->objectName() : QString(),
        QStringLiteral("%1,%2 %3x%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())};
    const QMetaObject *meta = widget->metaObject();
    for (const char *name : kShown) {
        const int index = meta->indexOfProperty(name);
        if (index >= 0)
            line << QString::fromLatin1(name) + QLatin1Char('=') +
                        describe(meta->property(index).read(widget));
    }
    if (const auto *list = qobject_cast<const QComboBox *>(widget)) {
        for (int i = 0; i < list->count(); ++i)
            line << QStringLiteral("item=") + describe(list->itemText(i));
    }
    if (const auto *tabs = qobject_cast<const QTabWidget *>(widget)) {
        for (int i = 0; i < tabs->count(); ++i)
            line << QStringLiteral("tab=") + tabs->widget(i)->objectName() + QLatin1Char(':') +
                        describe(tabs->tabText(i));
    }
    return line.join(QLatin1Char('\t'));
}

// The form's widgets, not the parts the framework builds inside its own.
bool isFormWidget(const QWidget *widget)
{
    const QString name = widget->objectName();
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_")) &&
           !name.startsWith(QLatin1String("Scroll"));
}

QString dumpForm(const QMainWindow &window)
{
    QStringList lines{dumpWidget(&window)};
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        if (isFormWidget(widget))
            lines << dumpWidget(widget);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

class tst_MainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheDump();
};

void tst_MainWindowForm::matchesTheDump()
{
    QMainWindow window;
    MainWindowForm form;
    form.SetupForm(&window);
    const QString dump = dumpForm(window);
    // The window and the run control find the widgets by name: each name once.
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        if (isFormWidget(widget))
            QCOMPARE(window.findChildren<QWidget *>(widget->objectName()).size(), 1);
    }
    QFile golden(QString::fromLatin1(kGolden));
    if (qEnvironmentVariableIsSet("BENCHTEST_WRITE_GOLDEN")) {
        QVERIFY(golden.open(QIODevice::WriteOnly));
        golden.write(dump.toUtf8());
        QSKIP("dump rewritten");
    }
    QVERIFY(golden.open(QIODevice::ReadOnly));
    const QStringList expected = QString::fromUtf8(golden.readAll()).split(QLatin1Char('\n'));
    const QStringList actual = dump.split(QLatin1Char('\n'));
    for (int i = 0; i < qMax(expected.size(), actual.size()); ++i)
        QCOMPARE(actual.value(i), expected.value(i));
}

QTEST_MAIN(tst_MainWindowForm)
#include "tst_mainwindowform.moc"
