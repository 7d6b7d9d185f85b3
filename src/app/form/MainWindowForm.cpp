#include "app/form/MainWindowForm.h"

#include "settings/RunDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>

namespace {

// Default raw-socket resources. Both addresses are from the documentation
// ranges, so a fresh install never talks to a real host by accident.
const char *const kAddressA = "TCPIP0::192.0.2.10::5025::SOCKET";
const char *const kAddressB = "TCPIP0::198.51.100.20::5025::SOCKET";

template <typename W> W *make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(QRect(x, y, w, h));
    return widget;
}

template <typename W> W *makeDisabled(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    W *widget = make<W>(parent, name, x, y, w, h);
    widget->setEnabled(false);
    return widget;
}

// Entries are created blank; RetranslateForm gives them their texts.
QComboBox *makeList(QWidget *parent, const char *name, int x, int y, int w, int h, int entries)
{
    auto *list = make<QComboBox>(parent, name, x, y, w, h);
    for (int i = 0; i < entries; ++i)
        list->addItem(QString());
    return list;
}

} // namespace

void MainWindowForm::SetupForm(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(720, 540);

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    tabWidget = make<QTabWidget>(centralwidget, "tabWidget", 20, 20, 281, 431);

    tab_commset = new QWidget();
    tab_commset->setObjectName(QStringLiteral("tab_commset"));
    label_4 = make<QLabel>(tab_commset, "label_4", 20, 15, 241, 21);
    addrdmm = makeDisabled<QLineEdit>(tab_commset, "addrdmm", 20, 70, 241, 25);
    modeldmm = makeList(tab_commset, "modeldmm", 80, 40, 181, 25, 1);
    modeldmm->setEnabled(false);
    label_5 = make<QLabel>(tab_commset, "label_5", 20, 115, 241, 21);
    modelpwr = makeList(tab_commset, "modelpwr", 80, 140, 181, 25, 1);
    modelpwr->setEnabled(false);
    addrpwr = makeDisabled<QLineEdit>(tab_commset, "addrpwr", 20, 170, 241, 25);
    modelosc = makeList(tab_commset, "modelosc", 80, 240, 181, 25, 1);
    modelosc->setEnabled(false);
    addrosc = makeDisabled<QLineEdit>(tab_commset, "addrosc", 20, 270, 241, 25);
    label_13 = make<QLabel>(tab_commset, "label_13", 20, 215, 241, 21);
    label_14 = make<QLabel>(tab_commset, "label_14", 20, 315, 241, 21);
    modeluart = makeDisabled<QComboBox>(tab_commset, "modeluart", 80, 340, 91, 25);
    enabledmm = make<QCheckBox>(tab_commset, "enabledmm", 20, 40, 51, 25);
    enablepwr = make<QCheckBox>(tab_commset, "enablepwr", 20, 140, 51, 25);
    enableosc = make<QCheckBox>(tab_commset, "enableosc", 20, 240, 51, 25);
    enableuart = make<QCheckBox>(tab_commset, "enableuart", 20, 340, 51, 25);
    refreshuart = makeDisabled<QPushButton>(tab_commset, "refreshuart", 180, 340, 81, 25);
    tabWidget->addTab(tab_commset, QString());

    tab_testcontrol = new QWidget();
    tab_testcontrol->setObjectName(QStringLiteral("tab_testcontrol"));
    QWidget *page = tab_testcontrol;
    label = make<QLabel>(page, "label", 20, 20, 61, 25);
    filename = make<QLineEdit>(page, "filename", 80, 20, 181, 25);
    label_15 = make<QLabel>(page, "label_15", 20, 50, 61, 25);
    tester = make<QLineEdit>(page, "tester", 80, 50, 181, 25);
    savepath = make<QPushButton>(page, "savepath", 20, 90, 101, 25);
    autotest = make<QPushButton>(page, "autotest", 180, 90, 81, 25);
    Var_2 = make<QLineEdit>(page, "Var_2", 40, 240, 81, 25);
    Var_4 = make<QLineEdit>(page, "Var_4", 40, 300, 81, 25);
    label_27 = make<QLabel>(page, "label_27", 25, 240, 21, 25);
    label_28 = make<QLabel>(page, "label_28", 25, 360, 21, 25);
    label_29 = make<QLabel>(page, "label_29", 155, 210, 21, 25);
    Var_5 = make<QLineEdit>(page, "Var_5", 40, 330, 81, 25);
    Var_6 = make<QLineEdit>(page, "Var_6", 40, 360, 81, 25);
    Var_7 = make<QLineEdit>(page, "Var_7", 170, 210, 81, 25);
    label_30 = make<QLabel>(page, "label_30", 25, 270, 21, 25);
    label_31 = make<QLabel>(page, "label_31", 25, 330, 21, 25);
    Var_3 = make<QLineEdit>(page, "Var_3", 40, 270, 81, 25);
    label_32 = make<QLabel>(page, "label_32", 155, 240, 21, 25);
    label_33 = make<QLabel>(page, "label_33", 25, 300, 21, 25);
    Var_1 = make<QLineEdit>(page, "Var_1", 40, 210, 81, 25);
    Var_8 = make<QLineEdit>(page, "Var_8", 170, 240, 81, 25);
    label_34 = make<QLabel>(page, "label_34", 25, 210, 21, 25);
    label_35 = make<QLabel>(page, "label_35", 30, 180, 231, 25);
    Var_9 = make<QLineEdit>(page, "Var_9", 170, 270, 81, 25);
    label_24 = make<QLabel>(page, "label_24", 148, 360, 31, 25);
    Var_12 = make<QLineEdit>(page, "Var_12", 170, 360, 81, 25);
    label_26 = make<QLabel>(page, "label_26", 155, 300, 31, 25);
    label_25 = make<QLabel>(page, "label_25", 148, 330, 31, 25);
    label_23 = make<QLabel>(page, "label_23", 155, 270, 21, 25);
    Var_10 = make<QLineEdit>(page, "Var_10", 170, 300, 81, 25);
    Var_11 = make<QLineEdit>(page, "Var_11", 170, 330, 81, 25);
    singletest = make<QPushButton>(page, "singletest", 130, 90, 41, 25);
    showpath = make<QTextEdit>(page, "showpath", 20, 120, 241, 51);
    showpath->setReadOnly(true);
    tabWidget->addTab(tab_testcontrol, QString());

    testprogress = make<QProgressBar>(centralwidget, "testprogress", 20, 460, 681, 16);
    testprogress->setValue(0);
    testprogress->setTextVisible(false);
    testtime = make<QLabel>(centralwidget, "testtime", 20, 480, 281, 16);
    Status = make<QLabel>(centralwidget, "Status", 310, 480, 391, 20);
    groupBox = make<QGroupBox>(centralwidget, "groupBox", 310, 20, 391, 431);
    testname = makeList(groupBox, "testname", 20, 30, 351, 22, 2);
    testmsg = make<QTextEdit>(groupBox, "testmsg", 20, 60, 351, 351);
    testmsg->setReadOnly(true);
    window->setCentralWidget(centralwidget);

    menubar = make<QMenuBar>(window, "menubar", 0, 0, 720, 22);
    window->setMenuBar(menubar);
    statusbar = new QStatusBar(window);
    statusbar->setObjectName(QStringLiteral("statusbar"));
    window->setStatusBar(statusbar);

    RetranslateForm(window);
    tabWidget->setCurrentIndex(1);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::RetranslateForm(QMainWindow *window)
{
    window->setWindowTitle(tr("自动化测试工具 by Ravensel"));
    window->setToolTip(QString());
    tabWidget->setTabText(tabWidget->indexOf(tab_commset), tr("通讯设置"));
    label_4->setText(tr("台式万用表（DMM）"));
    for (QCheckBox *box : {enabledmm, enablepwr, enableosc, enableuart})
        box->setText(tr("启用"));
    modeldmm->setItemText(0, QStringLiteral("Keysight 34410A/34461A"));
    addrdmm->setText(QString::fromLatin1(RunDefaults::meterAddress));
    addrdmm->setPlaceholderText(QString::fromLatin1(kAddressA));
    label_5->setText(tr("直流稳压源（PWR）"));
    modelpwr->setItemText(0, QStringLiteral("Agilent 66309D"));
    addrpwr->setText(QString::fromLatin1(kAddressA));
    addrpwr->setPlaceholderText(QStringLiteral("GPIB0::5::INSTR"));
    label_13->setText(tr("数字示波器（OSC）"));
    modelosc->setItemText(0, QStringLiteral("ZLG ZDS1104"));
    addrosc->setText(QString::fromLatin1(kAddressB));
    addrosc->setPlaceholderText(QString::fromLatin1(kAddressB));
    label_14->setText(tr("串口 - 待测板（UART）"));
    refreshuart->setText(tr("刷新列表"));

    tabWidget->setTabText(tabWidget->indexOf(tab_testcontrol), tr("测试控制"));
    label->setText(tr("测试项目"));
    filename->setText(QString());
    filename->setPlaceholderText(tr("测试项，如：TR45K210_DAC"));
    label_15->setText(tr("测试人"));
    tester->setText(QString());
    tester->setPlaceholderText(tr("测试人，如：XXX，XXX"));
    savepath->setText(tr("选择保存路径"));
    singletest->setText(tr("单步"));
    autotest->setText(tr("自动测试"));
    label_35->setText(tr("测试参数（*所有变量均为INT64型数值）"));

    // Parameter grid: each field with its default and the "*n" tag beside it.
    struct Param
    {
        QLineEdit *field;
        QLabel *tag;
        const char *defaultText;
        const char *tagText;
    };
    const Param params[] = {
        {Var_1, label_34, RunDefaults::parameters[0], "*0"},
        {Var_2, label_27, RunDefaults::parameters[1], "*1"},
        {Var_3, label_30, RunDefaults::parameters[2], "*2"},
        {Var_4, label_33, RunDefaults::parameters[3], "*3"},
        {Var_5, label_31, "", "*4"},
        {Var_6, label_28, "", "*5"},
        {Var_7, label_29, "", "*6"},
        {Var_8, label_32, "", "*7"},
        {Var_9, label_23, "", "*8"},
        {Var_10, label_26, "", "*9"},
        {Var_11, label_25, "", "*10"},
        {Var_12, label_24, "", "*11"},
    };
    for (const Param &p : params) {
        p.field->setText(QString::fromLatin1(p.defaultText));
        p.field->setPlaceholderText(tr("int64数值"));
        p.tag->setText(QString::fromLatin1(p.tagText));
    }

    groupBox->setTitle(tr("测试项"));
    testname->setItemText(0, tr("DAC - 串口发送DAC值，万用表采集电压"));
    testname->setItemText(1, tr("ISINK - 串口发送ISINK值，万用表采集电流"));
    testtime->setText(QStringLiteral("进度：-")); // progress texts stay as they are
    Status->setText(tr("Status"));
}
