#include "tools/runner/ProgressPrinter.h"

namespace {

const int kBarWidth = 30;

QString timePart(const RunProgress &progress)
{
    const QString elapsed =
        QStringLiteral("  elapsed ") + ProgressPrinter::duration(progress.elapsedMs / 1000);
    if (progress.finished)
        return QStringLiteral("finished") + elapsed;
    if (progress.remainingMs < 0)
        return QStringLiteral("remaining --") + elapsed;
    // Rounded up: a run still going never claims 0s left.
    const qint64 ms = progress.remainingMs;
    return QStringLiteral("remaining ") + ProgressPrinter::duration(ms / 1000 + (ms % 1000 != 0)) +
           elapsed;
}

} // namespace

ProgressPrinter::ProgressPrinter(std::FILE *out, bool terminal) : out(out), terminal(terminal) {}

QString ProgressPrinter::duration(qint64 seconds)
{
    seconds = qMax<qint64>(seconds, 0);
    QString text;
    if (seconds >= 3600)
        text += QStringLiteral("%1h ").arg(seconds / 3600);
    if (seconds >= 60)
        text += QStringLiteral("%1m ").arg(seconds % 3600 / 60);
    return text + QStringLiteral("%1s").arg(seconds % 60);
}

QString ProgressPrinter::plainLine(const RunProgress &progress)
{
    return QStringLiteral("step %1/%2  %3%  ")
               .arg(progress.done)
               .arg(progress.total)
               .arg(progress.percent) +
           timePart(progress);
}

QString ProgressPrinter::barLine(const RunProgress &progress)
{
    const int filled = qBound(0, progress.percent, 100) * kBarWidth / 100;
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
           QString(kBarWidth - filled, QLatin1Char('-')) +
           QStringLiteral("] %1%  ").arg(progress.percent, 3) + timePart(progress) +
           QStringLiteral("  (step %1/%2)").arg(progress.done).arg(progress.total);
}

void ProgressPrinter::show(const RunProgress &progress)
{
    current = progress;
    if (terminal)
        draw();
}

void ProgressPrinter::stepCompleted(const RunProgress &progress)
{
    current = progress;
    if (terminal) {
        draw();
        return;
    }
    // Flushed per line: a reader at the other end of a pipe follows the run live.
    std::fprintf(out, "%s\n", plainLine(progress).toLocal8Bit().constData());
    std::fflush(out);
}

void ProgressPrinter::finish()
{
    if (drawn)
        std::fputs("\n", out);
    drawn = false;
    std::fflush(out);
}

void ProgressPrinter::stepAside()
{
    if (!drawn)
        return;
    std::fputs("\r\x1b[K", out);
    std::fflush(out);
}

void ProgressPrinter::comeBack()
{
    if (drawn)
        draw();
}

void ProgressPrinter::draw()
{
    // "\x1b[K" clears what a longer earlier line left behind.
    std::fprintf(out, "\r%s\x1b[K", barLine(current).toLocal8Bit().constData());
    std::fflush(out);
    drawn = true;
}
