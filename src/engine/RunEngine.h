#pragma once

#include "engine/RunOutcome.h"
#include "engine/RunSetup.h"
#include "engine/TestParams.h"
#include "results/RunRecord.h"

#include <QObject>

#include <memory>

class DMM_34461A;
class FileOperation;
class StepTimer;
class UART;

// Where a run stands: after a completed step, or at any moment (currentProgress()).
struct RunProgress
{
    qint64 done = 0;         // completed steps
    qint64 total = 0;        // steps of the run
    qint64 elapsedMs = 0;    // since the first send was due
    qint64 remainingMs = -1; // estimate over whole step periods, waits included; -1: none yet
    bool finished = false;   // the run went through all its steps
    int percent = 0;
    QString text; // the window's remaining-time text, e.g. "进度：40%  ( 2m 15s )"
};

// One run of a bench test: send the next value to the board, wait for it to
// settle, take the meter readings, append the row, repeat. A single-shot
// timer drives it on the thread it lives on; each phase arms the timer for
// the next when the run advances by itself, and singleStep() arms it
// otherwise. It writes the log lines of the run's events; what to show of
// them is for whoever listens to its signals.
class RunEngine : public QObject
{
    Q_OBJECT

public:
    explicit RunEngine(RunSetup setup, QObject *parent = nullptr);
    ~RunEngine() override;

    // Opens the meter and the port, creates the result file, and has the first
    // value sent 500 ms later. A run already under way is released first.
    void start();
    // Ends the run (outcome Stopped unless it had ended already), closes the
    // meter and the port and releases what the run created. Safe from inside
    // any of this engine's signals.
    void stop();
    // Runs the pending phase 100 ms from now, whatever the mode.
    void singleStep();

    // The phases, as the timer runs them; each does nothing outside a run.
    void sendValue();
    void takeReading();
    // Emits progressChanged() for the steps completed so far.
    void reportProgress();
    // Where the run stands now on the run's clock: the elapsed time goes on,
    // the estimate of the last completed step counts down; both stop when
    // the run ends. For a display that redraws between steps.
    [[nodiscard]] RunProgress currentProgress() const;

    [[nodiscard]] bool isRunning() const { return running; }
    // The tally so far; final once runEnded() is emitted.
    [[nodiscard]] const RunOutcome &outcome() const { return tally; }

    // Milliseconds as the step timer takes them: negative waits run at once,
    // waits beyond the timer's range are clamped to its largest interval.
    static int timerInterval(qint64 ms);
    // A meter reply as it goes into the file: white space folded, "ERR" when empty.
    static QString readingCell(const QString &reply);
    // A parameter field's text as a number; anything that does not parse is 0
    // (and `isNumber`, when given, false).
    static qint64 parameter(const QString &text, bool *isNumber = nullptr);
    // More readings per step than this are not taken: the column heading
    // names every reading of a step.
    static constexpr qint64 kMaxReadingsPerStep = 100000;
    static constexpr int kFirstSendMs = 500;
    static constexpr int kNextStepMs = 100;
    static constexpr int kSingleStepMs = 100;

signals:
    void valueSent(qint64 step, qint32 value);
    void readingTaken(qint64 step, qint64 index, const QString &cell);
    void stepFinished(qint64 step);
    // After each completed step but the last.
    void progressChanged(const RunProgress &progress);
    // Something went wrong that makes the record less than whole: a value
    // not sent, a piece not written, the results going to a recovery file.
    void faultNoticed(const QString &what);
    // Once per run, when it finishes, fails or is stopped. A listener may
    // stop() the engine from here, but must not delete it.
    void runEnded(const RunOutcome &outcome);

private:
    qint64 runParameter(int index) const;
    void finish();
    void end(RunOutcome::Status status, const QString &failure = QString());
    void continueWith(void (RunEngine::*next)(), qint64 waitMs);
    void append(const QString &text, bool lineEnd);
    void releaseRun();
    void recordStart();
    void recordEnd();

    RunSetup setup;
    RunRecord record;
    RunOutcome tally;
    bool running = false;
    qint64 startMs = 0;
    qint64 endMs = -1;      // on the run's clock, once it has ended
    qint64 estimateMs = -1; // remaining time as of the last completed step
    qint64 estimatedAtMs = 0;
    TestParams params;
    std::unique_ptr<FileOperation> fileOp;
    std::unique_ptr<DMM_34461A> dmmDriver;
    std::unique_ptr<UART> uartDriver;
    StepTimer *stepTimer = nullptr; // deleted later: a stop may come from its own timeout
};

Q_DECLARE_METATYPE(RunProgress)
