#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

class MainWindow;

// One automatic run of the real main window, shown on the current platform
// (offscreen for the benchmarks): fills the form as an operator would, clicks
// Start and lets the event loop run until the window's stop path has run.
class WindowRun : public QObject
{
public:
    struct Parameters
    {
        qint64 steps = 0;
        qint64 settleMs = 0;
        qint64 readings = 0;
        qint64 intervalMs = 0;
    };

    WindowRun(const QString &meterResource, const QString &boardPath);
    ~WindowRun() override;

    MainWindow *window() const { return mainWindow; }
    // Shows the window and returns once it has been painted; false if it was not.
    bool show();
    // Clicks Start; returns the steady-clock time (ns) at which the click,
    // and with it the run's start slot, returned.
    qint64 start(const Parameters &parameters);
    // Runs the event loop until the run has ended; false after `timeoutMs`.
    bool waitForEnd(int timeoutMs);
    // Checks the result file: every row complete, no "ERR", the end line there.
    bool resultFileComplete(const Parameters &parameters, QString *problem) const;

private:
    MainWindow *mainWindow;
    QTemporaryDir results;
    bool ended = false;
};
