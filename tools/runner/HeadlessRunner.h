#pragma once

#include "RunProgress.h"

#include <QObject>
#include <QString>

class MainWindow;
class QPushButton;
struct RunnerOptions;

// Drives the real main window, built but never shown, through one run: fills
// the form the way an operator would, clicks Start, watches the window's own
// progress display and caption, and stops the run by clicking Start again.
class HeadlessRunner : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        NotStarted,
        Running,
        Finished,      // ended by itself, completion line written
        Stopped,       // stopped through stop()
        Incomplete,    // ended without its completion line
        FailedToStart, // started, but could not open the serial port; stopped at once
    };

    explicit HeadlessRunner(QObject *parent = nullptr);
    ~HeadlessRunner() override;

    // Fills the form and clicks Start. Returns false with `error` set when the
    // run cannot go ahead; outcome() tells whether it had begun (FailedToStart,
    // stopped again through the window) or never started.
    [[nodiscard]] bool start(const RunnerOptions &options, QString *error);
    // The operator's stop: a second click on Start while the run goes on.
    void stop();

    Outcome outcome() const { return state; }
    RunProgress progress() const { return current; }
    // Empty until a run has created its file.
    QString resultFilePath() const { return resultFile; }
    // Set when the multimeter did not answer at the start of the run.
    bool meterConnected() const { return meterAnswered; }
    // The multimeter address on the form, as the run used it.
    QString meterAddress() const;

signals:
    void progressChanged(const RunProgress &progress);
    void stepCompleted(const RunProgress &progress);
    void ended();

private:
    bool fillForm(const RunnerOptions &options, QString *error);
    bool selectTest(const RunnerOptions &options, QString *error);
    bool chooseSerialPort(const QString &port, QString *error);
    bool chooseOutputDir(const QString &dir, QString *error);
    void waitForUnusedSecond() const;
    // Compares the window's display with what was last seen; called whenever
    // the event loop goes idle, so it sees every state the window rests in.
    void observe();
    void endRun();
    bool resultFileComplete() const;

    MainWindow *window;
    QPushButton *startButton;
    Outcome state = Outcome::NotStarted;
    bool stopRequested = false;
    bool meterAnswered = false;
    qint64 sendingStep = 0; // the step last seen going out to the board
    QString resultFile;
    RunProgress current;
};
