// bench-step-timing: one automatic run of the real window (offscreen) against
// benchsim --board, with every send and every reading timed against its plan.
// Each wait counts from the end of the slot before it, so the planned time of
// an event is the end of the previous slot (the start click for the first
// send) plus the wait: 500 ms, the settle time, the reading interval or the
// 100 ms between steps. Lateness = the time the timer delivered the event
// that ran the slot minus that planned time; it must never be negative.
//
//   bench-step-timing [--steps 1000] [--settle 10] [--readings 3] [--interval 5]
//                     [--events <csv>] [--verbose]
// Prints one JSON object (times in ms) on standard output.
#include "bench/support/MonotonicClock.h"
#include "bench/support/RunParameterOptions.h"
#include "bench/support/StepTrace.h"
#include "bench/support/WindowRun.h"
#include "tests/support/SimulatorProcess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

const qint64 kFirstSendMs = 500;
const qint64 kNextStepMs = 100;

struct Summary
{
    double earliest = 0, median = 0, p99 = 0, max = 0, mean = 0;
    int count = 0;
};

Summary summarise(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[size_t(q * double(values.size() - 1))];
    };
    s.count = int(values.size());
    s.earliest = values.front();
    s.median = at(0.5);
    s.p99 = at(0.99);
    s.max = values.back();
    double sum = 0;
    for (double v : values)
        sum += v;
    s.mean = sum / double(values.size());
    return s;
}

QJsonObject toJson(const Summary &s)
{
    return {{"count", s.count}, {"earliest_ms", s.earliest}, {"median_ms", s.median},
            {"p99_ms", s.p99},  {"max_ms", s.max},           {"mean_ms", s.mean}};
}

// User + system time of the whole process.
qint64 processCpuNs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ns = [](const timeval &t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_usec * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

void fail(const QString &message)
{
    std::fprintf(stderr, "bench-step-timing: %s\n", qPrintable(message));
    std::exit(1);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    const RunParameterOptions runOptions({1000, 10, 3, 5});
    const QCommandLineOption eventsOption("events", "Write every event to a CSV file.", "file");
    const QCommandLineOption verboseOption("verbose", "Echo the program's log.");
    parser.addOptions(runOptions.options());
    parser.addOptions({eventsOption, verboseOption});
    parser.process(app);

    WindowRun::Parameters p;
    QString problem;
    if (!runOptions.read(parser, p, &problem))
        fail(problem);

    SimulatorProcess simulator;
    if (!simulator.start({"--dmm", "--board"}, false))
        fail(simulator.error());
    StepTrace &trace = StepTrace::instance();
    trace.install(parser.isSet(verboseOption), true);
    trace.reserve(size_t(p.steps * (p.readings + 1)));

    WindowRun run(simulator.address("dmm"), simulator.address("board"));
    run.show();
    const qint64 nominalMs = kFirstSendMs +
                             p.steps * (p.settleMs + (p.readings - 1) * p.intervalMs) +
                             (p.steps - 1) * kNextStepMs;
    const qint64 cpuBefore = processCpuNs();
    const qint64 started = run.start(p);
    if (!run.waitForEnd(int(nominalMs * 2 + 60000)))
        fail("the run did not end in time");
    const qint64 cpuNs = processCpuNs() - cpuBefore;
    if (!run.resultFileComplete(p, &problem))
        fail("result file: " + problem);

    const std::vector<StepTrace::Event> &events = trace.events();
    const size_t expected = size_t(p.steps * (p.readings + 1));
    if (events.size() != expected || trace.anomalies() != 0)
        fail(QStringLiteral("%1 events, expected %2").arg(events.size()).arg(expected));

    // Replays the schedule: which wait led to each event, and its lateness.
    std::vector<double> all, first, settle, interval, next, sendSlots, readingSlots;
    qint64 latenessNs = 0;
    qint64 slotNs = 0;
    qint64 waitNs = 0;
    QFile csv(parser.value(eventsOption));
    QTextStream csvOut(&csv);
    if (parser.isSet(eventsOption) && csv.open(QIODevice::WriteOnly | QIODevice::Text))
        csvOut << "index,kind,wait_ms,planned_ms,actual_ms,lateness_ms,slot_ms,logged_ms\n";
    for (size_t i = 0; i < events.size(); ++i) {
        const StepTrace::Event &e = events[i];
        const size_t inStep = i % size_t(p.readings + 1); // 0: the send
        if ((inStep == 0) != (e.kind == StepTrace::Kind::Send))
            fail(QStringLiteral("event %1 out of order").arg(i));
        const qint64 waitMs = i == 0        ? kFirstSendMs
                              : inStep == 0 ? kNextStepMs
                              : inStep == 1 ? p.settleMs
                                            : p.intervalMs;
        const qint64 previousEnd = i == 0 ? started : events[i - 1].slotEndNs;
        const qint64 planned = previousEnd + waitMs * 1000000;
        const qint64 late = e.slotBeginNs - planned;
        const double lateMs = ms(late);
        all.push_back(lateMs);
        (i == 0 ? first : inStep == 0 ? next : inStep == 1 ? settle : interval).push_back(lateMs);
        (e.kind == StepTrace::Kind::Send ? sendSlots : readingSlots)
            .push_back(ms(e.slotEndNs - e.slotBeginNs));
        latenessNs += late;
        waitNs += waitMs * 1000000;
        if (i + 1 < events.size())
            slotNs += e.slotEndNs - e.slotBeginNs;
        if (csv.isOpen())
            csvOut << i << ',' << (e.kind == StepTrace::Kind::Send ? "send" : "reading") << ','
                   << waitMs << ',' << ms(planned - started) << ',' << ms(e.slotBeginNs - started)
                   << ',' << lateMs << ',' << ms(e.slotEndNs - e.slotBeginNs) << ','
                   << ms(e.loggedNs - started) << '\n';
    }

    // From the start click to the delivery of the last reading.
    const qint64 totalNs = events.back().slotBeginNs - started;
    const qint64 plannedNs = totalNs - latenessNs; // every wait from its slot's end
    QJsonObject result{
        {"steps", p.steps},
        {"settle_ms", p.settleMs},
        {"readings", p.readings},
        {"interval_ms", p.intervalMs},
        {"events", int(events.size())},
        {"lateness", toJson(summarise(all))},
        {"lateness_first_send", toJson(summarise(first))},
        {"lateness_settle", toJson(summarise(settle))},
        {"lateness_interval", toJson(summarise(interval))},
        {"lateness_next_step", toJson(summarise(next))},
        {"send_slot", toJson(summarise(sendSlots))},
        {"reading_slot", toJson(summarise(readingSlots))},
        {"total_ms", ms(totalNs)},
        {"planned_ms", ms(plannedNs)},
        {"nominal_ms", double(nominalMs)},
        {"waits_ms", ms(waitNs)},
        {"slots_ms", ms(slotNs)},
        {"lateness_sum_ms", ms(latenessNs)},
        {"over_planned_pct", 100.0 * double(totalNs - plannedNs) / double(plannedNs)},
        {"cpu_ms", ms(cpuNs)},
    };
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}
