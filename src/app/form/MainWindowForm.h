#pragma once

#include <QCoreApplication>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTextEdit;
class QWidget;

// The fixed widget tree of the main window. The record does not own the
// widgets: they are children of the window and die with it.
struct MainWindowForm
{
    // The form's texts are the window's: one translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    QWidget *centralwidget = nullptr;
    QTabWidget *tabWidget = nullptr;
    QWidget *tab_commset = nullptr;
    QLabel *label_4 = nullptr;
    QLineEdit *addrdmm = nullptr;
    QComboBox *modeldmm = nullptr;
    QLabel *label_5 = nullptr;
    QComboBox *modelpwr = nullptr;
    QLineEdit *addrpwr = nullptr;
    QComboBox *modelosc = nullptr;
    QLineEdit *addrosc = nullptr;
    QLabel *label_13 = nullptr;
    QLabel *label_14 = nullptr;
    QComboBox *modeluart = nullptr;
    QCheckBox *enabledmm = nullptr;
    QCheckBox *enablepwr = nullptr;
    QCheckBox *enableosc = nullptr;
    QCheckBox *enableuart = nullptr;
    QPushButton *refreshuart = nullptr;
    QWidget *tab_testcontrol = nullptr;
    QLabel *label = nullptr;
    QLineEdit *filename = nullptr;
    QLabel *label_15 = nullptr;
    QLineEdit *tester = nullptr;
    QPushButton *savepath = nullptr;
    QPushButton *autotest = nullptr;
    QLineEdit *Var_2 = nullptr;
    QLineEdit *Var_4 = nullptr;
    QLabel *label_27 = nullptr;
    QLabel *label_28 = nullptr;
    QLabel *label_29 = nullptr;
    QLineEdit *Var_5 = nullptr;
    QLineEdit *Var_6 = nullptr;
    QLineEdit *Var_7 = nullptr;
    QLabel *label_30 = nullptr;
    QLabel *label_31 = nullptr;
    QLineEdit *Var_3 = nullptr;
    QLabel *label_32 = nullptr;
    QLabel *label_33 = nullptr;
    QLineEdit *Var_1 = nullptr;
    QLineEdit *Var_8 = nullptr;
    QLabel *label_34 = nullptr;
    QLabel *label_35 = nullptr;
    QLineEdit *Var_9 = nullptr;
    QLabel *label_24 = nullptr;
    QLineEdit *Var_12 = nullptr;
    QLabel *label_26 = nullptr;
    QLabel *label_25 = nullptr;
    QLabel *label_23 = nullptr;
    QLineEdit *Var_10 = nullptr;
    QLineEdit *Var_11 = nullptr;
    QPushButton *singletest = nullptr;
    QTextEdit *showpath = nullptr;
    QProgressBar *testprogress = nullptr;
    QLabel *testtime = nullptr;
    QLabel *Status = nullptr;
    QGroupBox *groupBox = nullptr;
    QComboBox *testname = nullptr;
    QTextEdit *testmsg = nullptr;
    QMenuBar *menubar = nullptr;
    QStatusBar *statusbar = nullptr;

    // Builds every widget on the window and binds its on_<name>_<signal> slots.
    void SetupForm(QMainWindow *window);
    // Sets every user-visible text, captions through the translation lookup;
    // addresses, models and numbers as they are.
    void RetranslateForm(QMainWindow *window);
};
