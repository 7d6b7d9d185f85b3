// Every caption and placeholder of the window fits its widget, in Chinese and
// in English: the text's width in the widget's font against the room the
// style leaves it. The form's geometry is fixed, so a longer translation
// would be cut off rather than widen its widget.
#include "app/WindowLanguage.h"
#include "app/form/MainWindowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>

#include <memory>

Q_DECLARE_METATYPE(WindowLanguage)

namespace {

// QLineEdit's own margin between its contents rectangle and the text.
constexpr int kLineEditTextMargin = 2;

struct Fit
{
    QString where; // "label_4", "filename (placeholder)"
    QString text;
    int width = 0; // the text's
    int room = 0;  // what the widget gives it
};

int advance(const QWidget *widget, const QString &text)
{
    return widget->fontMetrics().horizontalAdvance(text);
}

Fit labelFit(const QLabel *label)
{
    return {label->objectName(), label->text(), advance(label, label->text()),
            label->contentsRect().width()};
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
    return {button->objectName(), text, advance(button, text), room.width()};
}

Fit checkBoxFit(const QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    return {box->objectName(), box->text(), advance(box, box->text()), room.width()};
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
    return {edit->objectName() + " (placeholder)", edit->placeholderText(),
            advance(edit, edit->placeholderText()), room};
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
        fits.append({QStringLiteral("%1 (entry %2)").arg(list->objectName()).arg(i),
                     list->itemText(i), advance(list, list->itemText(i)), room.width()});
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
            fits << labelFit(label);
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

class tst_FormTextsFit : public QObject
{
    Q_OBJECT

private slots:
    void everyTextFits_data();
    void everyTextFits();
};

void tst_FormTextsFit::everyTextFits_data()
{
    QTest::addColumn<WindowLanguage>("language");
    QTest::newRow("Chinese") << WindowLanguage::Chinese;
    QTest::newRow("English") << WindowLanguage::English;
}

void tst_FormTextsFit::everyTextFits()
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

QTEST_MAIN(tst_FormTextsFit)
#include "tst_formtextsfit.moc"
