// The result-file reader (the report's input) over any bytes: no input may
// crash it or make it hold more than its limits. Every row it hands on
// belongs to a run it reports, in order, with cells from the row's own line.
#include "fuzz/FuzzCheck.h"
#include "report/ResultFileReader.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     qsizetype(size));
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);

    qint64 rowsSeen = 0;
    qint64 lastLine = 0;
    int lastRun = 0;
    const ResultFile file = ResultFileReader::read(
        &device, QStringLiteral("fuzz.txt"), [&](const ResultRun &run, const ResultRow &row) {
            ++rowsSeen;
            FUZZ_CHECK(run.index >= lastRun);
            lastRun = run.index;
            FUZZ_CHECK(row.line > lastLine); // rows come in the file's order
            lastLine = row.line;
            FUZZ_CHECK(row.line > run.headingLine);
            for (const QByteArrayView cell : row.readings) {
                FUZZ_CHECK(cell.size() <= ResultFileReader::kMaxLineLength);
                FUZZ_CHECK(!cell.contains('\t') && !cell.contains('\n'));
            }
        });

    FUZZ_CHECK(file.warnings.size() <= ResultFileReader::kMaxWarnings + 1);
    qint64 rowsCounted = 0;
    for (int i = 0; i < file.runs.size(); ++i) {
        const ResultRun &run = file.runs.at(i);
        FUZZ_CHECK(run.index == i + 1);
        FUZZ_CHECK(run.rows >= 0);
        FUZZ_CHECK(!run.finished || !run.finishTime.isNull());
        rowsCounted += run.rows;
    }
    FUZZ_CHECK(rowsCounted == rowsSeen);
    return 0;
}
