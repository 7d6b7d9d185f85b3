#pragma once

#include "engine/RunThread.h"

#include <QThread>

#include <memory>
#include <vector>

class RunDisplay;
class RunEngineDatabaseLink;

// What the window's test objects share: each run starts a RunEngine, on a
// thread of its own (RunThread), on the operator's choices in TestContext and
// shows what it does on the display. The object lives on the window's thread,
// which a meter that stalls never holds up; the thread base is never
// started. A run still going when the program quits (the window closed) is
// stopped, and its record finished, before the program ends.
class TestSequence : public QThread
{
public:
    ~TestSequence() override;

protected:
    TestSequence(const TestKind &kind, RunDisplay *ui);

    // Logs the creation, connects the window's three run signals to the test
    // object's slots and shows the help text. Called by the derived
    // constructor; the connections are checked when the window's type is known.
    template <class Window, class Test> void attachToWindow(Window *window, Test *test)
    {
        logCreated();
        connect(window, &Window::SingleTest, test, &Test::SingleStep);
        connect(window, &Window::InitTest, test, &Test::InitEnviroment);
        connect(window, &Window::DeinitTest, test, &Test::DeinitEnviroment);
        showHelp();
    }

    void initEnvironment();
    void deinitEnvironment();
    void singleStep();
    // One phase of the run at once, as the step timer would run it.
    void sendValue();
    void takeReading();
    void calcProgress();

private:
    static void logCreated();
    void showHelp();
    void showReading(qint64 index, const QString &cell);
    void showProgress(const RunProgress &progress);
    void runEnded(const RunOutcome &outcome);
    // Waits until the runs that were stopped have ended on their threads.
    void waitForEndedRuns();
    void stopForQuit();

    const TestKind &kind;
    RunDisplay *ui;
    std::unique_ptr<RunThread> run;
    std::vector<std::unique_ptr<RunThread>> ending; // stopped, their threads still ending
    const RunThread *latest = nullptr;              // the run started last, for comparison only
    // Stores the run in the configured database; kept after the run, which it may still send.
    std::unique_ptr<RunEngineDatabaseLink> database;
};
