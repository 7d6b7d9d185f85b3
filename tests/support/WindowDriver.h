#pragma once

#include "tests/support/LogCapture.h"

#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

class MainWindow;
class QPushButton;
class SimulatedBench;

// One real main window, set up for a run against the simulated bench and
// driven the way the operator drives it: fields filled in, buttons clicked.
class WindowDriver
{
public:
    // The meter and the board of `bench`, results into a fresh folder.
    explicit WindowDriver(const SimulatedBench &bench);
    ~WindowDriver();

    MainWindow *window() const { return mainWindow; }
    // Closes and deletes the window as it is, a run and all (no Stop pressed).
    void closeWindow();
    LogCapture &log() { return capture; }
    QString resultsFolder() const { return results.path(); }
    // The meter address the window showed before the driver set its own.
    QString meterAddressAtOpen() const { return addressAtOpen; }

    void setText(const char *objectName, const QString &text);
    void setParams(const QStringList &values);
    void setMeter(const QString &resource);
    // Ticks the serial box (unticks it for an empty path) and types `path`
    // into the port list.
    void setPort(const QString &path) { setPort(path, !path.isEmpty()); }
    void setPort(const QString &path, bool ticked);
    void selectTest(int index);

    void clickStart();
    void clickSingleStep();
    bool isIdle() const;
    bool waitIdle(int timeoutMs);
    // Runs the event loop until `condition` holds; false after `timeoutMs`.
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
    // Presses autotest when a run is on; true when the window is idle afterwards
    // and the run's timer stays dead for `quietMs`: no step is logged.
    bool stopAndStayStopped(int quietMs = 300);
    // The log lines of the steps so far: sends, delays, readings.
    int stepLines() const;

    int starts() const { return int(initSpy.count()); }
    int stops() const { return int(deinitSpy.count()); }

    // The first log line containing `part`, or an empty string.
    QString logLine(const QString &part) const;
    int logCount(const QString &part) const;
    QByteArray resultBytes() const;

private:
    QPushButton *button(const char *objectName) const;

    LogCapture capture; // from before the window, which logs as it opens
    MainWindow *mainWindow = nullptr;
    QTemporaryDir results;
    QString idleCaption;
    QString addressAtOpen;
    QSignalSpy initSpy;
    QSignalSpy deinitSpy;
};
