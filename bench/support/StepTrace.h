#pragma once

#include <QtGlobal>

#include <functional>
#include <vector>

class QObject;
class QString;

// What the step machine did and when: one entry per send to the board and
// per meter reading, recognised by the slot's log line. The slot runs inside
// the emission of its step timer's timeout(); Qt's signal spy hooks (the
// ones QTest's -vs uses) give when that emission began, right after the
// timer decided the wait was over, and when it returned, right after the
// slot, so each wait can be measured from the end of the slot before it.
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
        qint64 slotBeginNs = 0; // the timeout() emission that ran the slot began
        qint64 slotEndNs = 0;   // and returned
    };

    static StepTrace &instance();

    // Takes over the debug log and hooks signal emissions. Lines other than
    // the step lines are dropped unless `echo` is set. With `record` false
    // only counts and sums are kept, so that a long run's memory is not the
    // trace's.
    void install(bool echo, bool record);
    void reserve(std::size_t events) { entries.reserve(events); }
    const std::vector<Event> &events() const { return entries; }
    int sends() const { return sendCount; }
    // Time spent in the slots that logged a step line.
    qint64 busyNs() const { return slotNs; }
    // Step lines not logged directly by a slot on a signal (should stay 0).
    int anomalies() const { return strays; }
    // Called after each send's log line with the number of sends so far.
    std::function<void(int)> afterSend;

    void logged(const QString &message);
    void emissionBegins(QObject *sender, int signal);
    void emissionEnds(QObject *sender, int signal);

private:
    StepTrace() = default;

    struct Emission
    {
        QObject *sender;
        int signal;
        qint64 beginNs;
        bool ranStep; // a step line was logged directly inside it
    };

    std::vector<Emission> emissions; // those under way, innermost last
    std::vector<Event> entries;
    int sendCount = 0;
    int strays = 0;
    qint64 slotNs = 0;
    bool echoOthers = false;
    bool recording = true;
};
