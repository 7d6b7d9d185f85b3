// What a run's own thread pays for storing its rows in PostgreSQL: the time of each call
// the run makes into the database sink (its start, a row per step, its end), with the
// server up, unreachable, or stopped (SIGSTOP) mid-run. The sink's journal and sender
// threads do the rest; the time until the database has the whole run is printed too.
//
//   bench-database --db URL [--steps N] [--readings N] [--pace-us N] [--stall-pid PID]
//
// With --stall-pid the given process (the server's postmaster and its backends' parent)
// is stopped after a tenth of the steps and continued after half of them.
#include "database/DatabaseSink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <numeric>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption db(QStringLiteral("db"), QString(), QStringLiteral("url"));
    const QCommandLineOption steps(QStringLiteral("steps"), QString(), QStringLiteral("n"),
                                   QStringLiteral("10000"));
    const QCommandLineOption readings(QStringLiteral("readings"), QString(), QStringLiteral("n"),
                                      QStringLiteral("3"));
    const QCommandLineOption pace(QStringLiteral("pace-us"), QString(), QStringLiteral("us"),
                                  QStringLiteral("1000"));
    const QCommandLineOption stall(QStringLiteral("stall-pid"), QString(), QStringLiteral("pid"));
    parser.addOptions({db, steps, readings, pace, stall});
    parser.process(app);

    QString error;
    const DatabaseUrl url = DatabaseUrl::parse(parser.value(db), &error);
    if (url.isEmpty()) {
        std::fprintf(stderr, "bench-database: %s\n", qPrintable(error));
        return 2;
    }
    const qint64 stepCount = parser.value(steps).toLongLong();
    const int cellCount = parser.value(readings).toInt();
    const unsigned long paceUs = parser.value(pace).toULong();
    const pid_t stallPid = pid_t(parser.value(stall).toLongLong());

    QTemporaryDir folder;
    const QString runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QJsonObject record{
        {QStringLiteral("test"), QStringLiteral("DAC")},
        {QStringLiteral("testItem"), QStringLiteral("BENCH-1")},
        {QStringLiteral("tester"), QStringLiteral("bench")},
        {QStringLiteral("resultFile"), folder.filePath(QStringLiteral("bench.txt"))},
        {QStringLiteral("started"), QDateTime::currentDateTime().toString(Qt::ISODate)},
        {QStringLiteral("parametersUsed"),
         QJsonObject{{QStringLiteral("readingsPerStep"), cellCount}}}};

    std::vector<double> callUs;
    callUs.reserve(size_t(stepCount) + 2);
    QElapsedTimer call;
    QElapsedTimer runClock;
    runClock.start();
    DatabaseSink sink(url);
    call.start();
    sink.runStarted(runId, record);
    callUs.push_back(double(call.nsecsElapsed()) / 1000);
    for (qint64 step = 1; step <= stepCount; ++step) {
        if (stallPid > 0 && step == stepCount / 10)
            ::kill(stallPid, SIGSTOP);
        if (stallPid > 0 && step == stepCount / 2)
            ::kill(stallPid, SIGCONT);
        DatabaseRow row;
        row.step = step;
        row.code = step;
        for (int i = 0; i < cellCount; ++i)
            row.cells << QStringLiteral("+%1E-03").arg(double(step) * 0.8 + i * 1e-5, 0, 'f', 8);
        row.wallMs = QDateTime::currentMSecsSinceEpoch();
        row.monotonicMs = runClock.elapsed();
        call.start();
        sink.rowCompleted(row);
        callUs.push_back(double(call.nsecsElapsed()) / 1000);
        QThread::usleep(paceUs);
    }
    QJsonObject ended = record;
    ended.insert(QStringLiteral("outcome"),
                 QJsonObject{{QStringLiteral("status"), QStringLiteral("finished")}});
    call.start();
    sink.runEnded(ended);
    callUs.push_back(double(call.nsecsElapsed()) / 1000);
    QElapsedTimer settle;
    settle.start();
    const DatabaseResult result = sink.waitUntilSettled(120000);

    std::printf("calls %zu  median %.2f us  p99 %.2f us  max %.1f us  total %.1f ms "
                "(%.3f ms per step)\n",
                callUs.size(), percentile(callUs, 0.5), percentile(callUs, 0.99),
                *std::max_element(callUs.begin(), callUs.end()),
                std::accumulate(callUs.begin(), callUs.end(), 0.0) / 1000,
                std::accumulate(callUs.begin(), callUs.end(), 0.0) / 1000 / double(stepCount));
    std::printf("settled %.0f ms after the end: %s\n", double(settle.elapsed()),
                qPrintable(result.summary()));
    return result.complete || stallPid > 0 ? 0 : 1;
}
