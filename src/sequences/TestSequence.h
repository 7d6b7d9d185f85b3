#pragma once

#include "engine/RunEngine.h"

#include <QThread>

#include <memory>

class RunDisplay;
class RunEngineDatabaseLink;

// What the window's test objects share: each run starts a RunEngine on the
// operator's choices in TestContext and shows what it does on the display.
// The object lives and runs on the main thread; the thread base is never
// started.
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

    const TestKind &kind;
    RunDisplay *ui;
    std::unique_ptr<RunEngine> engine;
    // Stores the run in the configured database; kept after the run, which it may still send.
    std::unique_ptr<RunEngineDatabaseLink> database;
};
