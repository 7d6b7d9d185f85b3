// The window's widget tree: names, classes, parents, geometry, initial state and texts.
#include "MainWindowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

namespace {

QStringList formNames()
{
    return {"centralwidget", "tabWidget",  "tab_commset", "label_4",      "addrdmm",
            "modeldmm",      "label_5",    "modelpwr",    "addrpwr",      "modelosc",
            "addrosc",       "label_13",   "label_14",    "modeluart",    "enabledmm",
            "enablepwr",     "enableosc",  "enableuart",  "refreshuart",  "tab_testcontrol",
            "label",         "filename",   "label_15",    "tester",       "savepath",
            "autotest",      "Var_2",      "Var_4",       "label_27",     "label_28",
            "label_29",      "Var_5",      "Var_6",       "Var_7",        "label_30",
            "label_31",      "Var_3",      "label_32",    "label_33",     "Var_1",
            "Var_8",         "label_34",   "label_35",    "Var_9",        "label_24",
            "Var_12",        "label_26",   "label_25",    "label_23",     "Var_10",
            "Var_11",        "singletest", "showpath",    "testprogress", "testtime",
            "Status",        "groupBox",   "testname",    "testmsg",      "menubar",
            "statusbar"};
}

} // namespace

class tst_MainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void widget_data();
    void widget();
    void everyNameIsUnique();
    void initialState();
    void text_data();
    void text();
    void lists();
    void parameterGrid_data();
    void parameterGrid();
    void parameterSearch();
    void pages();

private:
    QMainWindow *window = nullptr;
    MainWindowForm *form = nullptr;
};

void tst_MainWindowForm::init()
{
    window = new QMainWindow;
    form = new MainWindowForm;
    form->SetupForm(window);
}

void tst_MainWindowForm::cleanup()
{
    delete form;
    delete window;
}

void tst_MainWindowForm::widget_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");

    auto row = [](const char *name, const char *cls, const char *parent, int x, int y, int w,
                  int h) {
        QTest::newRow(name) << QString::fromLatin1(cls) << QString::fromLatin1(parent)
                            << QRect(x, y, w, h);
    };
    row("tabWidget", "QTabWidget", "centralwidget", 20, 20, 281, 431);
    row("label_4", "QLabel", "tab_commset", 20, 15, 241, 21);
    row("addrdmm", "QLineEdit", "tab_commset", 20, 70, 241, 25);
    row("modeldmm", "QComboBox", "tab_commset", 80, 40, 181, 25);
    row("label_5", "QLabel", "tab_commset", 20, 115, 241, 21);
    row("modelpwr", "QComboBox", "tab_commset", 80, 140, 181, 25);
    row("addrpwr", "QLineEdit", "tab_commset", 20, 170, 241, 25);
    row("modelosc", "QComboBox", "tab_commset", 80, 240, 181, 25);
    row("addrosc", "QLineEdit", "tab_commset", 20, 270, 241, 25);
    row("label_13", "QLabel", "tab_commset", 20, 215, 241, 21);
    row("label_14", "QLabel", "tab_commset", 20, 315, 241, 21);
    row("modeluart", "QComboBox", "tab_commset", 80, 340, 91, 25);
    row("enabledmm", "QCheckBox", "tab_commset", 20, 40, 51, 25);
    row("enablepwr", "QCheckBox", "tab_commset", 20, 140, 51, 25);
    row("enableosc", "QCheckBox", "tab_commset", 20, 240, 51, 25);
    row("enableuart", "QCheckBox", "tab_commset", 20, 340, 51, 25);
    row("refreshuart", "QPushButton", "tab_commset", 180, 340, 81, 25);
    row("label", "QLabel", "tab_testcontrol", 20, 20, 61, 25);
    row("filename", "QLineEdit", "tab_testcontrol", 80, 20, 181, 25);
    row("label_15", "QLabel", "tab_testcontrol", 20, 50, 61, 25);
    row("tester", "QLineEdit", "tab_testcontrol", 80, 50, 181, 25);
    row("savepath", "QPushButton", "tab_testcontrol", 20, 90, 101, 25);
    row("autotest", "QPushButton", "tab_testcontrol", 180, 90, 81, 25);
    row("singletest", "QPushButton", "tab_testcontrol", 130, 90, 41, 25);
    row("showpath", "QTextEdit", "tab_testcontrol", 20, 120, 241, 51);
    row("label_35", "QLabel", "tab_testcontrol", 30, 180, 231, 25);
    row("testprogress", "QProgressBar", "centralwidget", 20, 460, 681, 16);
    row("testtime", "QLabel", "centralwidget", 20, 480, 281, 16);
    row("Status", "QLabel", "centralwidget", 310, 480, 391, 20);
    row("groupBox", "QGroupBox", "centralwidget", 310, 20, 391, 431);
    row("testname", "QComboBox", "groupBox", 20, 30, 351, 22);
    row("testmsg", "QTextEdit", "groupBox", 20, 60, 351, 351);
    row("menubar", "QMenuBar", "MainWindow", 0, 0, 720, 22);
}

void tst_MainWindowForm::widget()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *w = window->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name + " not found"));
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    QCOMPARE(w->geometry(), geometry);
}

void tst_MainWindowForm::everyNameIsUnique()
{
    const QStringList names = formNames();
    QCOMPARE(names.size(), 61);
    for (const QString &name : names)
        QVERIFY2(window->findChildren<QWidget *>(name).size() == 1, qPrintable(name));

    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->centralWidget(), form->centralwidget);
    QCOMPARE(window->menuBar(), form->menubar);
    QVERIFY(form->menubar->actions().isEmpty());
    QCOMPARE(window->statusBar(), form->statusbar);
    QCOMPARE(window->size(), QSize(720, 540));
}

void tst_MainWindowForm::initialState()
{
    const QList<QWidget *> disabled = {form->addrdmm,   form->modeldmm,   form->modelpwr,
                                       form->addrpwr,   form->modelosc,   form->addrosc,
                                       form->modeluart, form->refreshuart};
    for (const QString &name : formNames()) {
        auto *w = window->findChild<QWidget *>(name);
        QVERIFY2(w->isEnabled() != disabled.contains(w), qPrintable(w->objectName()));
    }
    for (QCheckBox *box : {form->enabledmm, form->enablepwr, form->enableosc, form->enableuart})
        QCOMPARE(box->checkState(), Qt::Unchecked);
    QVERIFY(form->showpath->isReadOnly());
    QVERIFY(form->testmsg->isReadOnly());
    QVERIFY(form->showpath->toPlainText().isEmpty());
    QVERIFY(form->testmsg->toPlainText().isEmpty());
    QCOMPARE(form->testprogress->value(), 0);
    QVERIFY(!form->testprogress->isTextVisible());
}

void tst_MainWindowForm::text_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("expected");

    auto row = [](const char *tag, const char *name, const char *property, const char *text) {
        QTest::newRow(tag) << QString::fromLatin1(name) << QByteArray(property)
                           << QString::fromUtf8(text);
    };
    row("title", "MainWindow", "windowTitle", "自动化测试工具 by Ravensel");
    row("tooltip", "MainWindow", "toolTip", "");
    row("label_4", "label_4", "text", "台式万用表（DMM）");
    row("enabledmm", "enabledmm", "text", "启用");
    row("enablepwr", "enablepwr", "text", "启用");
    row("enableosc", "enableosc", "text", "启用");
    row("enableuart", "enableuart", "text", "启用");
    row("addrdmm", "addrdmm", "text", "GPIB0::5::INSTR");
    row("addrdmm placeholder", "addrdmm", "placeholderText", "TCPIP0::192.0.2.10::5025::SOCKET");
    row("label_5", "label_5", "text", "直流稳压源（PWR）");
    row("addrpwr", "addrpwr", "text", "TCPIP0::192.0.2.10::5025::SOCKET");
    row("addrpwr placeholder", "addrpwr", "placeholderText", "GPIB0::5::INSTR");
    row("label_13", "label_13", "text", "数字示波器（OSC）");
    row("addrosc", "addrosc", "text", "TCPIP0::198.51.100.20::5025::SOCKET");
    row("addrosc placeholder", "addrosc", "placeholderText", "TCPIP0::198.51.100.20::5025::SOCKET");
    row("label_14", "label_14", "text", "串口 - 待测板（UART）");
    row("refreshuart", "refreshuart", "text", "刷新列表");
    row("label", "label", "text", "测试项目");
    row("filename", "filename", "text", "");
    row("filename placeholder", "filename", "placeholderText", "测试项，如：TR45K210_DAC");
    row("label_15", "label_15", "text", "测试人");
    row("tester", "tester", "text", "");
    row("tester placeholder", "tester", "placeholderText", "测试人，如：XXX，XXX");
    row("savepath", "savepath", "text", "选择保存路径");
    row("singletest", "singletest", "text", "单步");
    row("autotest", "autotest", "text", "自动测试");
    row("label_35", "label_35", "text", "测试参数（*所有变量均为INT64型数值）");
    row("groupBox", "groupBox", "title", "测试项");
    row("testtime", "testtime", "text", "进度：-");
    row("Status", "Status", "text", "Status");
}

void tst_MainWindowForm::text()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QString, expected);

    QObject *object = name == window->objectName() ? window : window->findChild<QObject *>(name);
    QVERIFY(object);
    const QVariant value = object->property(property.constData());
    QVERIFY(value.isValid());
    QCOMPARE(value.toString(), expected);
}

void tst_MainWindowForm::lists()
{
    QCOMPARE(form->testname->count(), 2);
    QCOMPARE(form->testname->itemText(0), QStringLiteral("DAC - 串口发送DAC值，万用表采集电压"));
    QCOMPARE(form->testname->itemText(1),
             QStringLiteral("ISINK - 串口发送ISINK值，万用表采集电流"));
    QCOMPARE(form->testname->currentIndex(), 0);
    QCOMPARE(form->modeluart->count(), 0);

    const std::pair<QComboBox *, QString> models[] = {
        {form->modeldmm, QStringLiteral("Keysight 34410A/34461A")},
        {form->modelpwr, QStringLiteral("Agilent 66309D")},
        {form->modelosc, QStringLiteral("ZLG ZDS1104")},
    };
    for (const auto &[list, entry] : models) {
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->itemText(0), entry);
        QVERIFY(list->itemIcon(0).isNull());
        QVERIFY(!list->itemData(0).isValid());
    }
}

void tst_MainWindowForm::parameterGrid_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("tagName");
    QTest::addColumn<QRect>("tagGeometry");

    auto row = [](int n, const char *text, QRect field, const char *tag, QRect tagRect) {
        QTest::addRow("Var_%d", n)
            << n << QString::fromLatin1(text) << field << QString::fromLatin1(tag) << tagRect;
    };
    row(1, "10", {40, 210, 81, 25}, "label_34", {25, 210, 21, 25});
    row(2, "100", {40, 240, 81, 25}, "label_27", {25, 240, 21, 25});
    row(3, "3", {40, 270, 81, 25}, "label_30", {25, 270, 21, 25});
    row(4, "100", {40, 300, 81, 25}, "label_33", {25, 300, 21, 25});
    row(5, "", {40, 330, 81, 25}, "label_31", {25, 330, 21, 25});
    row(6, "", {40, 360, 81, 25}, "label_28", {25, 360, 21, 25});
    row(7, "", {170, 210, 81, 25}, "label_29", {155, 210, 21, 25});
    row(8, "", {170, 240, 81, 25}, "label_32", {155, 240, 21, 25});
    row(9, "", {170, 270, 81, 25}, "label_23", {155, 270, 21, 25});
    row(10, "", {170, 300, 81, 25}, "label_26", {155, 300, 31, 25});
    row(11, "", {170, 330, 81, 25}, "label_25", {148, 330, 31, 25});
    row(12, "", {170, 360, 81, 25}, "label_24", {148, 360, 31, 25});
}

void tst_MainWindowForm::parameterGrid()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(QString, tagName);
    QFETCH(QRect, tagGeometry);

    auto *field = window->findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(number));
    QVERIFY(field);
    QCOMPARE(field->parentWidget(), form->tab_testcontrol);
    QCOMPARE(field->geometry(), geometry);
    QCOMPARE(field->text(), text);
    QCOMPARE(field->placeholderText(), QStringLiteral("int64数值"));
    QCOMPARE(field->maxLength(), QLineEdit().maxLength());
    QVERIFY(!field->validator());

    auto *tag = window->findChild<QLabel *>(tagName);
    QVERIFY(tag);
    QCOMPARE(tag->parentWidget(), form->tab_testcontrol);
    QCOMPARE(tag->geometry(), tagGeometry);
    QCOMPARE(tag->text(), QStringLiteral("*%1").arg(number - 1));
}

void tst_MainWindowForm::parameterSearch()
{
    // The run reads its parameters by this very search.
    for (int i = 1; i <= 12; ++i)
        QVERIFY(window->findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(i)));
    QVERIFY(!window->findChild<QLineEdit *>(QStringLiteral("Var_0")));
    QVERIFY(!window->findChild<QLineEdit *>(QStringLiteral("Var_13")));
}

void tst_MainWindowForm::pages()
{
    QCOMPARE(form->tabWidget->count(), 2);
    QCOMPARE(form->tabWidget->widget(0), form->tab_commset);
    QCOMPARE(form->tabWidget->widget(1), form->tab_testcontrol);
    QCOMPARE(form->tabWidget->tabText(0), QStringLiteral("通讯设置"));
    QCOMPARE(form->tabWidget->tabText(1), QStringLiteral("测试控制"));
    QCOMPARE(form->tabWidget->currentWidget(), form->tab_testcontrol);
}

QTEST_MAIN(tst_MainWindowForm)
#include "tst_mainwindowform.moc"
