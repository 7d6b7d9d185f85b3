// A multimeter reply as it becomes a cell of the result file. Whatever the
// meter sends, the cell must keep the row intact: no tab or line end, no
// blank at either end, never empty.
#include "FuzzCheck.h"
#include "TestSequence.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The driver decodes the bytes before the first NUL as UTF-8; the fuzzer
    // may also hand over any other text.
    const QString reply = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString cell = TestSequence::readingCell(reply);

    FUZZ_CHECK(!cell.isEmpty());
    FUZZ_CHECK(!cell.contains(QLatin1Char('\t')));
    FUZZ_CHECK(!cell.contains(QLatin1Char('\n')));
    FUZZ_CHECK(!cell.contains(QLatin1Char('\r')));
    FUZZ_CHECK(!cell.front().isSpace() && !cell.back().isSpace());
    FUZZ_CHECK(!cell.contains(QLatin1String("  ")));
    FUZZ_CHECK((cell == QLatin1String("ERR")) ==
               (reply.trimmed().isEmpty() || reply.simplified() == QLatin1String("ERR")));
    // Folding is done once and for all.
    FUZZ_CHECK(TestSequence::readingCell(cell) == cell);
    return 0;
}
