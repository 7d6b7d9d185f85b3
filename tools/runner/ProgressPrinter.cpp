#include "ProgressPrinter.h"

#include <QRegularExpression>

namespace {

const QString kFinishedText = QStringLiteral("进度：已完成！");
const int kBarWidth = 30;

QString timePart(const QString &progressText)
{
    const QString remaining = ProgressPrinter::remainingTime(progressText);
    return remaining == QLatin1String("finished") ? remaining
                                                  : QStringLiteral("remaining ") + remaining;
}

} // namespace

ProgressPrinter::ProgressPrinter(std::FILE *out, bool terminal) : out(out), terminal(terminal) {}

QString ProgressPrinter::remainingTime(const QString &progressText)
{
    if (progressText == kFinishedText)
        return QStringLiteral("finished");
    static const QRegularExpression progress(
        QStringLiteral("^进度：-?\\d+%\\s*\\(\\s*(.*?)\\s*\\)$"));
    const QRegularExpressionMatch match = progress.match(progressText);
    return match.hasMatch() ? match.captured(1) : QStringLiteral("--");
}

QString ProgressPrinter::plainLine(const RunProgress &progress)
{
    return QStringLiteral("step %1/%2  %3%  ")
               .arg(progress.done)
               .arg(progress.total)
               .arg(progress.percent) +
           timePart(progress.text);
}

QString ProgressPrinter::barLine(const RunProgress &progress)
{
    const int filled = qBound(0, progress.percent, 100) * kBarWidth / 100;
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
           QString(kBarWidth - filled, QLatin1Char('-')) +
           QStringLiteral("] %1%  ").arg(progress.percent, 3) + timePart(progress.text) +
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
