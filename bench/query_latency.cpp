// bench-query: "READ?" round trips on loopback against bench-reply-server,
// through a plain blocking socket (the floor), through the VISA C interface
// and through the multimeter driver (DMM_34461A::Query), 10 000 queries after
// a warm-up each. Per-query wall times give the p50_us / p99_us counters; the
// process CPU time (user + sys) per query is Google Benchmark's cpu_time.
//
//   bench-query [--port N] [Google Benchmark options]
// Without --port the reply server is started as a child process.
#include "bench/PlainSocketClient.h"
#include "bench/ReplyServerProcess.h"
#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kWarmUp = 1000;
const int kQueries = 10000;
std::uint16_t serverPort = 0;

std::string resource()
{
    return "TCPIP0::127.0.0.1::" + std::to_string(serverPort) + "::SOCKET";
}

// Times every query of the benchmark loop on its own; the loop is the 10 000
// queries, the warm-up runs before the timed part starts.
template <typename Query> void measure(benchmark::State &state, Query query)
{
    for (int i = 0; i < kWarmUp; ++i)
        benchmark::DoNotOptimize(query());
    std::vector<double> microseconds;
    microseconds.reserve(kQueries);
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const Clock::time_point begin = Clock::now();
        benchmark::DoNotOptimize(query());
        microseconds.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
    }
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double q) {
        return microseconds[size_t(q * double(microseconds.size() - 1))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = microseconds.back();
}

void PlainSocket(benchmark::State &state)
{
    PlainSocketClient client;
    if (!client.connectTo(serverPort)) {
        state.SkipWithError("cannot connect to the reply server");
        return;
    }
    static const char command[] = "READ?\n";
    measure(state, [&] { return client.query(command, sizeof command - 1); });
}

void VisaCInterface(benchmark::State &state)
{
    ViSession defaultRM = VI_NULL;
    ViSession vi = VI_NULL;
    viOpenDefaultRM(&defaultRM);
    if (viOpen(defaultRM, resource().c_str(), 0, 2000, &vi) != VI_SUCCESS) {
        state.SkipWithError("viOpen failed");
        return;
    }
    static const char command[] = "READ?\n";
    measure(state, [&] {
        ViUInt32 count = 0;
        viWrite(vi, reinterpret_cast<ViConstBuf>(command), sizeof command - 1, &count);
        char reply[256];
        viRead(vi, reinterpret_cast<ViPBuf>(reply), 200, &count);
        return count;
    });
    viClose(vi);
    viClose(defaultRM);
}

void DriverQuery(benchmark::State &state)
{
    TestContext.dmm.address = QString::fromStdString(resource());
    DMM_34461A dmm;
    if (!dmm.Connect()) {
        state.SkipWithError("DMM_34461A::Connect failed");
        return;
    }
    measure(state, [&] { return dmm.Query(QStringLiteral("READ?")); });
    dmm.Close();
}

void silence(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

BENCHMARK(PlainSocket)
    ->Iterations(kQueries)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(VisaCInterface)
    ->Iterations(kQueries)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(DriverQuery)
    ->Iterations(kQueries)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char *argv[])
{
    // Our options first; the rest go to Google Benchmark.
    std::vector<char *> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            serverPort = std::uint16_t(std::atoi(argv[++i]));
        else
            rest.push_back(argv[i]);
    }
    ReplyServerProcess server;
    if (serverPort == 0) {
        if (!server.start(BENCH_REPLY_SERVER)) {
            std::fprintf(stderr, "bench-query: %s\n", server.error().c_str());
            return 1;
        }
        serverPort = server.port();
    }
    qInstallMessageHandler(silence); // the driver's connect lines

    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data()))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
