#pragma once

#include "app/FormRunDisplay.h"

#include <QMainWindow>

class QSettings;
class QThread;
struct MainWindowForm;

// The selected test object; owned through this pointer and replaced on every
// change of the test selection.
extern QThread *currentTest;
// The settings store of the configuration file; created by the window, never deleted.
extern QSettings *configSettings;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void InitTest();
    void DeinitTest();
    void SingleTest();

private slots:
    void on_enabledmm_stateChanged(int index);
    void on_enablepwr_stateChanged(int index);
    void on_enableosc_stateChanged(int index);
    void on_enableuart_stateChanged(int index);
    void on_refreshuart_clicked();
    void on_testname_currentIndexChanged(int index);
    void on_savepath_clicked();
    void on_autotest_clicked();
    void on_singletest_clicked();
    void ReadConfigFile();
    void SaveConfigFile();

private:
    // Where the run control stands; the Start button's caption shows it.
    enum class RunState
    {
        Idle,
        AutoRun,
        SingleStep,
    };

    void RefreshValue();
    void enterState(RunState next);
    // The folder and the port of the last run, from the configuration file.
    void ReadLastRun();
    void SaveLastRun(const char *key, const QString &value);
    // Says so in the status line when the result folder is not there, before
    // a run finds out.
    void CheckResultFolder();
    void NameUnfinishedRuns();
    void ShowPortPath(const QString &text);
    // Ctrl+L: benchtest-report's live view of the current run, as a program of its own.
    void OpenLiveView();

    MainWindowForm *ui;
    FormRunDisplay runDisplay;
    RunState runState = RunState::Idle;
    QString lastPort; // the port of the last run; a refreshed list shows it again
    bool folderMissingShown = false;
};
