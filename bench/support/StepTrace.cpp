#include "StepTrace.h"

#include "MonotonicClock.h"

#include <cstdio>

namespace {

void handleMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    StepTrace::instance().logged(message);
}

// The step lines are composed at run time and so come in the quoted form.
const QLatin1String kSendLine("\"TestThread: UART Send");
const QLatin1String kReadingLine("\"TestThread: DMM Measure");

} // namespace

StepTrace &StepTrace::instance()
{
    static StepTrace trace;
    return trace;
}

void StepTrace::install(bool echo, bool record)
{
    echoOthers = echo;
    recording = record;
    qInstallMessageHandler(handleMessage);
}

void StepTrace::logged(const QString &message)
{
    const bool send = message.startsWith(kSendLine);
    if (!send && !message.startsWith(kReadingLine)) {
        if (echoOthers)
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    ++lineCount;
    if (recording)
        entries.push_back({send ? Kind::Send : Kind::Reading, monotonicNs(), 0, 0});
    if (send) {
        ++sendCount;
        if (afterSend)
            afterSend(sendCount);
    }
}

void StepTrace::delivered(int linesBefore, qint64 beginNs, qint64 endNs)
{
    const int lines = lineCount - linesBefore;
    if (lines == 0)
        return;
    if (lines > 1)
        ++mixedSlots;
    slotNs += endNs - beginNs;
    if (!recording)
        return;
    const std::size_t first = entries.size() - std::size_t(lines);
    entries[first].slotBeginNs = beginNs;
    for (std::size_t i = first; i < entries.size(); ++i)
        entries[i].slotEndNs = endNs;
}

bool TracingApplication::notify(QObject *receiver, QEvent *event)
{
    if (depth > 0)
        return QApplication::notify(receiver, event);
    StepTrace &trace = StepTrace::instance();
    const int before = trace.stepLines();
    ++depth;
    const qint64 begin = monotonicNs();
    const bool handled = QApplication::notify(receiver, event);
    const qint64 end = monotonicNs();
    --depth;
    trace.delivered(before, begin, end);
    return handled;
}
