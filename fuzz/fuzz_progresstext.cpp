// The progress text over every input. No input may crash or overflow; for
// the inputs the tests give it (1 <= done < total) the percentage lies in
// 0..99 and the text has its fixed form.
#include "fuzz/FuzzCheck.h"
#include "results/FileOperation.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qint64 values[3] = {};
    std::memcpy(values, data, std::min(size, sizeof values));
    const qint64 elapsedMs = values[0];
    const qint64 total = values[1];
    const qint64 done = values[2];

    static FileOperation writer;
    QString text = QStringLiteral("before");
    int percent = -12345;
    writer.ProgressText(text, percent, elapsedMs, total, done);

    FUZZ_CHECK(text.startsWith(QStringLiteral("进度：")));
    FUZZ_CHECK(percent >= 0);
    if (done >= 1 && done < total) {
        __extension__ using Wide = __int128;
        FUZZ_CHECK(percent <= 99);
        FUZZ_CHECK(percent == int(Wide(done) * 100 / total));
        static const QRegularExpression form(
            QStringLiteral("^进度：(\\d+)%  \\( (-?\\d+d )?(-?\\d+h )?(-?\\d+m )?-?\\d+s \\)$"));
        const QRegularExpressionMatch match = form.match(text);
        FUZZ_CHECK(match.hasMatch());
        FUZZ_CHECK(match.captured(1).toInt() == percent);
        // A larger unit is shown only with every smaller one.
        FUZZ_CHECK(match.captured(2).isEmpty() || !match.captured(3).isEmpty());
        FUZZ_CHECK(match.captured(3).isEmpty() || !match.captured(4).isEmpty());
    }
    return 0;
}
