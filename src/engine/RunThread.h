#pragma once

#include "engine/RunEngine.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <optional>
#include <vector>

// Runs one RunEngine on a thread of its own, so that a meter that stalls
// never holds up the thread that asked for the run (the window's, the
// runner's). Every call returns at once; the engine's signals arrive queued on
// the caller's thread, in the order the engine sent them. The serial port of
// the run's setup goes over to the engine's thread for the run and comes back
// when the thread ends.
class RunThread : public QObject
{
    Q_OBJECT

public:
    explicit RunThread(RunSetup setup, QObject *parent = nullptr);
    // Stops a run that still goes on and waits until its thread has ended.
    ~RunThread() override;

    // For connecting to the engine's signals only; every call goes through here.
    [[nodiscard]] RunEngine *engine() const { return runEngine; }
    // An object made on the engine's thread right after the engine has
    // started (a database link, say): it lives there and goes before the engine.
    void attach(std::function<QObject *(RunEngine *)> make);

    void start();
    // Whatever waits for the meter ends at once; the run's end (its last
    // readings, its record) follows on the engine's thread, which then ends.
    // Call it once the run has ended by itself too: the thread ends then.
    void stop(const QString &reason = QString());
    void singleStep();
    // Waits for the engine's thread to end, at most `ms`.
    [[nodiscard]] bool wait(int ms);
    [[nodiscard]] RunProgress currentProgress() const { return runEngine->currentProgress(); }
    // What the lab's database has of the ended run goes into its outcome and its record
    // (RunEngine::amendRecord()), on this object's thread once the run's thread has ended:
    // at once when it has, else as soon as it does. A later call replaces one still waiting.
    void amendRecord(const DatabaseResult &database);

    // How long the destructor waits for a thread that does not end (a meter
    // whose connection attempt cannot be cut short takes up to its 2 s).
    static constexpr int kEndWaitMs = 15000;

private:
    void endOnEngineThread();
    void amendWhenEnded();

    QThread worker;
    RunEngine *runEngine;
    SerialConfig *serial;
    QThread *home;
    std::vector<std::function<QObject *(RunEngine *)>> attachments;
    std::vector<QObject *> attached; // on the engine's thread
    bool stopped = false;
    std::optional<DatabaseResult> amendment; // until the run's thread has ended
};
