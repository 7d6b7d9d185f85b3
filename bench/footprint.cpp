// bench-footprint: start-up time and resident memory of the real window.
//
//   bench-footprint startup
//       Starts this program again as a fresh process that builds the window,
//       shows it (offscreen) and idles for a second; prints the time from
//       just before the process was spawned to the window's first paint, and
//       the process's resident memory at idle.
//   bench-footprint run [--steps 10000] [--settle 0] [--readings 3] [--interval 0]
//       One automatic run against benchsim --board; samples resident memory
//       every 1 000 steps and prints the growth from step 1 000 to the last.
// Each prints one JSON object on standard output.
#include "app/MainWindow.h"
#include "bench/support/FirstPaint.h"
#include "bench/support/MonotonicClock.h"
#include "bench/support/ProcessMemory.h"
#include "bench/support/RunParameterOptions.h"
#include "bench/support/StepTrace.h"
#include "bench/support/WindowRun.h"
#include "tests/support/SimulatorProcess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char **environ;

namespace {

const char kChildMode[] = "--shown-since";

void print(const QJsonObject &object)
{
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench-footprint: %s\n", qPrintable(message));
    return 1;
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The parent half of "startup": the clock is read right before the spawn.
int spawnStartup(const char *self)
{
    const std::string since = std::to_string(monotonicNs());
    char *const argv[] = {const_cast<char *>(self), const_cast<char *>(kChildMode),
                          const_cast<char *>(since.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0)
        return fail("cannot start a copy of this program");
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// The child half: everything from here on counts, as in the real program.
int showWindow(int argc, char *argv[], qint64 spawnedNs)
{
    const qint64 mainNs = monotonicNs();
    QApplication app(argc, argv);
    MainWindow window;
    if (!showAndWaitForFirstPaint(&window))
        return fail("the window was not painted");
    const qint64 shownNs = monotonicNs();
    const qint64 shownRss = ProcessMemory::residentKiB();
    idle(1000);
    print({{"start_to_shown_ms", double(shownNs - spawnedNs) / 1e6},
           {"main_to_shown_ms", double(shownNs - mainNs) / 1e6},
           {"shown_rss_kib", shownRss},
           {"idle_rss_kib", ProcessMemory::residentKiB()},
           {"idle_peak_rss_kib", ProcessMemory::peakResidentKiB()}});
    return 0;
}

int longRun(QApplication &app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument("run", "One automatic run.");
    const RunParameterOptions runOptions({10000, 0, 3, 0});
    parser.addOptions(runOptions.options());
    parser.process(app);
    WindowRun::Parameters p;
    QString problem;
    if (!runOptions.read(parser, p, &problem))
        return fail(problem);

    SimulatorProcess simulator;
    if (!simulator.start({"--dmm", "--board"}, false))
        return fail(simulator.error());
    StepTrace &trace = StepTrace::instance();
    trace.install(false, false);
    QJsonArray samples; // [send number, resident KiB] every 1 000 sends
    qint64 rssAt1000 = -1;
    qint64 rssAtLast = -1;
    trace.afterSend = [&](int sends) {
        if (sends % 1000 != 0 && sends != p.steps)
            return;
        const qint64 rss = ProcessMemory::residentKiB();
        samples.append(QJsonArray{sends, rss});
        if (sends == 1000)
            rssAt1000 = rss;
        if (sends == p.steps)
            rssAtLast = rss;
    };

    WindowRun run(simulator.address("dmm"), simulator.address("board"));
    if (!run.show())
        return fail("the window was not painted");
    idle(1000);
    const qint64 idleRss = ProcessMemory::residentKiB();
    const qint64 idlePeak = ProcessMemory::peakResidentKiB();
    const qint64 started = run.start(p);
    const qint64 limitMs = 500 + p.steps * (p.settleMs + p.readings * p.intervalMs + 100);
    if (!run.waitForEnd(int(qMin<qint64>(limitMs * 2 + 60000, std::numeric_limits<int>::max()))))
        return fail("the run did not end in time");
    const qint64 endedNs = monotonicNs();
    // Before the check below, which reads the whole result file.
    const qint64 endRss = ProcessMemory::residentKiB();
    const qint64 endPeak = ProcessMemory::peakResidentKiB();
    if (!run.resultFileComplete(p, &problem))
        return fail("result file: " + problem);

    print({{"steps", p.steps},
           {"readings", p.readings},
           {"run_ms", double(endedNs - started) / 1e6},
           {"slots_ms", double(trace.busyNs()) / 1e6},
           {"appends", 2 + p.steps * (p.readings + 2) + 1},
           {"idle_rss_kib", idleRss},
           {"idle_peak_rss_kib", idlePeak},
           {"rss_at_1000_kib", rssAt1000},
           {"rss_at_last_kib", rssAtLast},
           {"growth_kib", rssAtLast - rssAt1000},
           {"end_rss_kib", endRss},
           {"end_peak_rss_kib", endPeak},
           {"rss_samples", samples}});
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::strcmp(argv[1], kChildMode) == 0)
        return showWindow(argc, argv, std::strtoll(argv[2], nullptr, 10));
    if (argc == 2 && std::strcmp(argv[1], "startup") == 0)
        return spawnStartup(argv[0]);
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) {
        QApplication app(argc, argv);
        return longRun(app);
    }
    std::fprintf(stderr,
                 "usage: %s startup | run [--steps N] [--settle MS] [--readings N] "
                 "[--interval MS]\n",
                 argv[0]);
    return 2;
}
