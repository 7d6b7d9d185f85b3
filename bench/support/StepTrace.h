#pragma once

#include <QApplication>
#include <QtGlobal>

#include <functional>
#include <vector>

// What the step machine did and when: one entry per send to the board and
// per meter reading, recognised by the slot's log line. TracingApplication
// adds when the event that ran the slot (the step timer's) began to be
// delivered and when the slot returned, so a wait can be measured from the
// end of the slot before it.
class StepTrace
{
public:
    enum class Kind
    {
        Send,
        Reading
    };
    struct Event
    {
        Kind kind;
        qint64 loggedNs = 0;    // the slot's "UART Send" / "DMM Measure" line
        qint64 slotBeginNs = 0; // delivery of the event that ran the slot began
        qint64 slotEndNs = 0;   // the slot returned
    };

    static StepTrace &instance();

    // Takes over the debug log; lines other than the step lines are dropped
    // unless `echo` is set. With `record` false only counts and sums are
    // kept, so that a long run's memory is not the trace's.
    void install(bool echo, bool record);
    void reserve(std::size_t events) { entries.reserve(events); }
    const std::vector<Event> &events() const { return entries; }
    int sends() const { return sendCount; }
    int stepLines() const { return lineCount; }
    // Time spent in the slots that logged a step line.
    qint64 busyNs() const { return slotNs; }
    // Events that logged more than one step line (should stay 0).
    int anomalies() const { return mixedSlots; }
    // Called after each send's log line with the number of sends so far.
    std::function<void(int)> afterSend;

    void delivered(int linesBefore, qint64 beginNs, qint64 endNs);
    void logged(const QString &message);

private:
    StepTrace() = default;

    std::vector<Event> entries;
    int sendCount = 0;
    int lineCount = 0;
    qint64 slotNs = 0;
    int mixedSlots = 0;
    bool echoOthers = false;
    bool recording = true;
};

// QApplication that times the delivery of every event the event loop hands
// out (not the events sent from inside another one's handler).
class TracingApplication : public QApplication
{
public:
    TracingApplication(int &argc, char **argv) : QApplication(argc, argv) {}
    bool notify(QObject *receiver, QEvent *event) override;

private:
    int depth = 0;
};
