#pragma once

#include "engine/RunOutcome.h"
#include "engine/RunSetup.h"
#include "engine/TestParams.h"
#include "record/RunRecord.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>

class FileOperation;
class RecordFile;
class StepTimer;

// Where a run stands: after a completed step, or at any moment
// (currentProgress()). The one progress model of a run: every display (the
// window's progress text, the runner's line) is made from these figures.
struct RunProgress
{
    qint64 done = 0;         // completed steps
    qint64 total = 0;        // steps of the run
    qint64 elapsedMs = 0;    // since the first send was due, on the monotonic clock
    qint64 remainingMs = -1; // progressFigures' estimate; -1: none yet
    bool finished = false;   // the run went through all its steps
    int percent = 0;
};

// One run of a bench test: send the next value to the board, wait for it to
// settle, take the meter readings, append the row, repeat. A single-shot
// timer drives it on the thread it lives on; each phase arms the timer for
// the next when the run advances by itself, and singleStep() arms it
// otherwise. It writes the log lines of the run's events; what to show of
// them is for whoever listens to its signals.
//
// A reading goes into the file once the meter tells it its own query's
// answer (at once on links that pair them; after a look at the link long
// enough after it, on a raw socket or a serial line: at the latest at the
// end of its row). A reading the meter disowns, because a reply no query
// asked for turned up, goes in as ERR.
class RunEngine : public QObject
{
    Q_OBJECT

public:
    explicit RunEngine(RunSetup setup, QObject *parent = nullptr);
    ~RunEngine() override;

    // Opens the meter and the port (and, with a plan's supply, switches its
    // output on), creates the result file, and has the first value sent
    // 500 ms later. A run already under way is released first. A check that
    // fails (RunSetup::checkInstruments, a board it cannot go without, a
    // supply that cannot be set up) ends the run Failed before it has a file.
    void start();
    // Ends the run (outcome Stopped unless it had ended already), closes the
    // meter and the port and releases what the run created. Safe from inside
    // any of this engine's signals. `reason` says who stopped it (the
    // operator, a signal, the window closing) for the record.
    void stop(const QString &reason = QString());
    // From any thread, while the engine's own thread may be waiting for the
    // meter: that wait ends at once, no further phase runs and nothing more is
    // measured. stop() on the engine's thread then ends the run.
    void requestStop();
    // Runs the pending phase 100 ms from now, whatever the mode.
    void singleStep();

    // The phases, as the timer runs them; each does nothing outside a run.
    void sendValue();
    void takeReading();
    // Emits progressChanged() for the steps completed so far.
    void reportProgress();
    // Where the run stands now: the elapsed time goes on, the estimate of the
    // last completed step counts down; both stop when the run ends. For a
    // display that redraws between steps; any thread may ask.
    [[nodiscard]] RunProgress currentProgress() const;

    [[nodiscard]] bool isRunning() const { return running; }
    // The tally so far; final once runEnded() is emitted.
    [[nodiscard]] const RunOutcome &outcome() const { return tally; }
    // The run's record as it stands.
    [[nodiscard]] const RunRecord &runRecord() const { return record; }
    // Once the run has ended and until the next start: what the lab's database has of it
    // goes into the outcome and into the record, written again through the record files
    // this run wrote (never over a file another put under the record's name). False, with
    // `error` when given, when there is no ended run with a record or the write failed; the
    // run's clean state stays as it ended either way.
    bool amendRecord(const DatabaseResult &database, QString *error = nullptr);

    // Milliseconds as the step timer takes them: negative waits run at once,
    // waits beyond the timer's range are clamped to its largest interval.
    static int timerInterval(qint64 ms);
    // A meter reply as it goes into the file: white space folded, "ERR" when empty.
    static QString readingCell(const QString &reply);
    // Whether a cell is a measurement: a finite number below the overload
    // marker (+9.9E37); ERR, INF, NAN and any other text are not.
    static bool isMeasurement(const QString &cell);
    // A parameter field's text as a number; anything that does not parse is 0
    // (and `isNumber`, when given, false).
    static qint64 parameter(const QString &text, bool *isNumber = nullptr);
    // More readings per step than this are not taken: the column heading
    // names every reading of a step.
    static constexpr qint64 kMaxReadingsPerStep = 100000;
    static constexpr int kFirstSendMs = RunSetup::kFirstSendMs;
    static constexpr int kNextStepMs = RunSetup::kNextStepMs;
    static constexpr int kSingleStepMs = 100;

signals:
    // The run has its result file and its record, the instruments' identities
    // in it, and waits for its first send.
    void runStarted(const RunRecord &record);
    // The code a step sends: step k of the plan's sweep, else k itself.
    void valueSent(qint64 step, qint32 value);
    // A reading as the meter gave it; its cell reaches the file with rowWritten().
    void readingTaken(qint64 step, qint64 index, const QString &cell);
    void stepFinished(qint64 step);
    // A row as it went into the file, line end included: the meter's cells.
    void rowWritten(qint64 step, qint32 value, const QStringList &cells);
    // The supply's current cell of a row that has one (the "PWR" column),
    // just before its rowWritten().
    void supplyCurrentWritten(qint64 step, const QString &cell);
    // After each completed step but the last.
    void progressChanged(const RunProgress &progress);
    // Something went wrong that makes the record less than whole: a value
    // not sent, a piece not written, the results going to a recovery file.
    void faultNoticed(const QString &what);
    // The run's record as the engine has just put it beside the result file:
    // when the run starts, when it moves to a recovery file, when it ends
    // (before runEnded()).
    void recordChanged(const RunRecord &record);
    // Once per run, when it finishes, fails or is stopped. A listener may
    // stop() the engine from here, but must not delete it.
    void runEnded(const RunOutcome &outcome);

private:
    qint64 runParameter(int index) const;
    void finish();
    void end(RunOutcome::Status status, const QString &failure = QString());
    void continueWith(void (RunEngine::*next)(), qint64 waitMs);
    void append(const QString &text, bool lineEnd);
    // Writes the readings the meter has told, in order; with `settle`, all.
    void writeReadings(bool settle);
    void releaseRun();
    void recordStart();
    bool recordResumed();
    void recordDiversion();
    void recordEnd();
    // A failed write that `counts` makes the run not clean.
    bool writeRecord(RecordFile &file, bool counts, QString *failure = nullptr);
    // The code step k (from 1) sends.
    qint32 codeOf(qint64 step) const;
    const QStringList &meterCommands() const;
    bool readsSupplyCurrent() const { return setup.supply && setup.supply->readsCurrent; }
    // The checks before the result file exists; false with the reason.
    bool checkMeterIdentity(QString *failure);
    bool sendMeterSetup(QString *failure);
    bool checkMeterSetup(QString *failure);
    // What the checks' budget leaves for one exchange; 0 without checks.
    int checkSliceMs() const;
    bool checkTimeLeft() const;
    // Opens the supply, sets it up and switches its output on; false with
    // the reason, the output off.
    bool powerBoard(QString *failure);
    // Switches the supply's output off if the run switched it on, and
    // counts it when the supply does not confirm it.
    void switchSupplyOff();
    void measureSupplyCurrent();
    // Appends a row's supply cell, ERR when a stray put it in doubt; returns it.
    QString appendSupplyCell(qint64 step, const QString &cell);
    bool phaseMayRun() const { return running && !stopRequested; }

    RunSetup setup;
    RunPorts ports;
    RunRecord record;
    RunOutcome tally;
    bool running = false;
    std::atomic<bool> stopRequested{false};
    // What currentProgress() reads, from any thread.
    struct ProgressState
    {
        bool running = false;
        bool finished = false;
        qint64 done = 0;
        qint64 doneBefore = 0; // steps a resumed run found done: not in this start's time
        qint64 total = 0;
        qint64 startMs = 0;     // the first send's due time, on the monotonic clock
        qint64 endMs = -1;      // once the run has ended
        qint64 estimateMs = -1; // remaining time as of the last completed step
        qint64 estimatedAtMs = 0;
    };
    mutable QMutex progressMutex;
    ProgressState progressState;
    mutable QMutex meterMutex; // `meter` against requestStop() from another thread
    qint64 startedAtMs = 0; // when start() ran, on the monotonic clock
    TestParams params;
    // Readings taken but not in the file yet, oldest first. A row's last
    // brings the supply's current cell along, when the run reads it.
    struct PendingReading
    {
        qint64 step = 0;
        qint32 value = 0;
        QString cell;
        quint64 reply = 0; // the meter's reply number; 0: no reply (ERR)
        bool endsRow = false;
        std::optional<QString> supplyCell;
    };
    std::deque<PendingReading> pending;
    QStringList rowCells; // of the row being written
    qint32 rowValue = 0;
    std::unique_ptr<FileOperation> fileOp;
    // Kept after the run until the next start, for amendRecord().
    std::unique_ptr<RecordFile> recordFile;         // beside the result file
    std::unique_ptr<RecordFile> recoveryRecordFile; // beside the recovery file
    std::unique_ptr<MeterPort> meter;
    std::unique_ptr<BoardPort> board;
    std::unique_ptr<SupplyPort> supply;
    bool supplyOn = false; // the run switched the output on and has not seen it off
    QString rowSupplyCell; // of the step under way
    QDeadlineTimer checkDeadline;
    StepTimer *stepTimer = nullptr; // deleted later: a stop may come from its own timeout
};

Q_DECLARE_METATYPE(RunProgress)
Q_DECLARE_METATYPE(RunRecord)
