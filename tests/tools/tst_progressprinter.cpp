// What benchtest-run writes to standard output while a run goes on: the
// window's remaining time, one line per step for pipes, one bar for terminals.
#include "ProgressPrinter.h"

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

RunProgress progress(qint64 done, qint64 total, int percent, const QString &text)
{
    RunProgress progress;
    progress.done = done;
    progress.total = total;
    progress.percent = percent;
    progress.text = text;
    return progress;
}

} // namespace

class tst_ProgressPrinter : public QObject
{
    Q_OBJECT

private slots:
    void remainingTime_data();
    void remainingTime();
    void lines_data();
    void lines();
    void terminal_redrawsOneLineAndStepsAsideForLogLines();
};

void tst_ProgressPrinter::remainingTime_data()
{
    QTest::addColumn<QString>("windowText");
    QTest::addColumn<QString>("remaining");

    QTest::newRow("minutes") << "进度：40%  ( 2m 15s )"
                             << "2m 15s";
    QTest::newRow("clock set back") << "进度：50%  ( -1m -5s )"
                                    << "-1m -5s";
    QTest::newRow("run started") << "进度：--"
                                 << "--";
    QTest::newRow("nothing to extrapolate from") << "进度：0%  ( -- )"
                                                 << "--";
    QTest::newRow("finished") << "进度：已完成！"
                              << "finished";
}

void tst_ProgressPrinter::remainingTime()
{
    QFETCH(QString, windowText);
    QFETCH(QString, remaining);
    QCOMPARE(ProgressPrinter::remainingTime(windowText), remaining);
}

void tst_ProgressPrinter::lines_data()
{
    QTest::addColumn<RunProgress>("state");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("bar");

    QTest::newRow("before the first step")
        << progress(0, 10, 0, "进度：--") << "step 0/10  0%  remaining --"
        << "[------------------------------]   0%  remaining --  (step 0/10)";
    QTest::newRow("truncated percent, partial cell")
        << progress(1, 3, 33, "进度：33%  ( 2s )") << "step 1/3  33%  remaining 2s"
        << "[#########---------------------]  33%  remaining 2s  (step 1/3)";
    QTest::newRow("finished") << progress(3, 3, 100, "进度：已完成！") << "step 3/3  100%  finished"
                              << "[##############################] 100%  finished  (step 3/3)";
}

void tst_ProgressPrinter::lines()
{
    QFETCH(RunProgress, state);
    QFETCH(QString, plain);
    QFETCH(QString, bar);
    QCOMPARE(ProgressPrinter::plainLine(state), plain);
    QCOMPARE(ProgressPrinter::barLine(state), bar);
}

void tst_ProgressPrinter::terminal_redrawsOneLineAndStepsAsideForLogLines()
{
    CapturedStream out;
    ProgressPrinter printer(out.file(), true);
    printer.stepAside(); // nothing drawn yet: nothing to clear
    printer.show(progress(0, 2, 0, "进度：--"));
    printer.stepAside();
    printer.comeBack();
    printer.stepCompleted(progress(2, 2, 100, "进度：已完成！"));
    printer.finish();
    printer.finish(); // the line is ended once

    const QString first = ProgressPrinter::barLine(progress(0, 2, 0, "进度：--"));
    const QString last = ProgressPrinter::barLine(progress(2, 2, 100, "进度：已完成！"));
    QCOMPARE(out.text(), "\r" + first + "\x1b[K" + "\r\x1b[K" + "\r" + first + "\x1b[K" + "\r" +
                             last + "\x1b[K" + "\n");
}

QTEST_APPLESS_MAIN(tst_ProgressPrinter)
#include "tst_progressprinter.moc"
