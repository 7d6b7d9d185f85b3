// What benchtest-run writes to standard output while a run goes on: the
// engine's figures, one line per step for pipes, one bar for terminals.
#include "tools/runner/ProgressPrinter.h"

#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

// Collects what a printer writes, as a C stream the printer can take.
class CapturedStream
{
public:
    CapturedStream() : stream(open_memstream(&buffer, &size)) {}
    ~CapturedStream()
    {
        std::fclose(stream);
        std::free(buffer);
    }
    std::FILE *file() const { return stream; }
    QString text()
    {
        std::fflush(stream);
        return QString::fromLocal8Bit(buffer, qsizetype(size));
    }

private:
    char *buffer = nullptr;
    size_t size = 0;
    std::FILE *stream;
};

RunProgress progress(qint64 done, qint64 total, int percent, qint64 elapsedMs, qint64 remainingMs,
                     bool finished = false)
{
    RunProgress progress;
    progress.done = done;
    progress.total = total;
    progress.percent = percent;
    progress.elapsedMs = elapsedMs;
    progress.remainingMs = remainingMs;
    progress.finished = finished;
    return progress;
}

} // namespace

class tst_ProgressPrinter : public QObject
{
    Q_OBJECT

private slots:
    void lines();
    void terminal_redrawsOneLineAndStepsAsideForLogLines();
};

// Remaining time rounded up, elapsed time down, every unit below the largest
// shown; the bar's cells, like the percentage, truncated. (The lines before
// the first step and at the end: tst_benchtestrun, through the program.)
void tst_ProgressPrinter::lines()
{
    const RunProgress state = progress(1, 3, 33, 3661999, 1001);
    QCOMPARE(ProgressPrinter::plainLine(state), "step 1/3  33%  remaining 2s  elapsed 1h 1m 1s");
    QCOMPARE(ProgressPrinter::barLine(state),
             "[#########---------------------]  33%  remaining 2s  elapsed 1h 1m 1s  (step 1/3)");
}

void tst_ProgressPrinter::terminal_redrawsOneLineAndStepsAsideForLogLines()
{
    CapturedStream out;
    ProgressPrinter printer(out.file(), true);
    printer.stepAside(); // nothing drawn yet: nothing to clear
    printer.show(progress(0, 2, 0, 0, -1));
    printer.stepAside();
    printer.comeBack();
    printer.stepCompleted(progress(2, 2, 100, 900, 0, true));
    printer.finish();
    printer.finish(); // the line is ended once

    const QString first = ProgressPrinter::barLine(progress(0, 2, 0, 0, -1));
    const QString last = ProgressPrinter::barLine(progress(2, 2, 100, 900, 0, true));
    QCOMPARE(out.text(), "\r" + first + "\x1b[K" + "\r\x1b[K" + "\r" + first + "\x1b[K" + "\r" +
                             last + "\x1b[K" + "\n");
}

QTEST_APPLESS_MAIN(tst_ProgressPrinter)
#include "tst_progressprinter.moc"
