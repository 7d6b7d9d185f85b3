// bench-append: the cost of one FileOperation::AppendText (open in append and
// text mode, write, close) on a result file that grows as in a run, for the
// pieces a run writes: a reading cell without a line end, and the row end.
//
//   bench-append [--dir <folder>] [Google Benchmark options]
// The file goes into a fresh temporary folder (inside <folder> if given).
#include "results/FileOperation.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QTemporaryDir>

#include <cstring>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<QTemporaryDir> folder;

void appendPiece(benchmark::State &state, const QString &text, bool lineEnd)
{
    const QString path =
        folder->filePath(QStringLiteral("[AutoTest][BENCH][bench][000000 000000].txt"));
    FileOperation file;
    for (auto _ : state)
        file.AppendText(path, text, lineEnd);
    state.SetItemsProcessed(state.iterations());
}

void AppendReading(benchmark::State &state)
{
    appendPiece(state, QStringLiteral("\t+1.23456789E+00"), false);
}

void AppendRowEnd(benchmark::State &state)
{
    appendPiece(state, QString(), true);
}

} // namespace

BENCHMARK(AppendReading)->Iterations(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(AppendRowEnd)->Iterations(10000)->Unit(benchmark::kMicrosecond);

int main(int argc, char *argv[])
{
    std::vector<char *> rest{argv[0]};
    QString base;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            base = QString::fromLocal8Bit(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    folder = base.isEmpty()
                 ? std::make_unique<QTemporaryDir>()
                 : std::make_unique<QTemporaryDir>(base + QStringLiteral("/bench-XXXXXX"));
    if (!folder->isValid())
        return 1;
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data()))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    folder.reset();
    return 0;
}
