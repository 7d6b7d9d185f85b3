#include "bench/support/StepTrace.h"

#include "bench/support/MonotonicClock.h"

#include <QString>
#include <QtCore/private/qobject_p.h>

#include <cstdio>
#include <thread>

namespace {

void handleMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    StepTrace::instance().logged(message);
}

// The hooks see the emissions of every thread; the step machine's are all
// on the main thread.
std::thread::id mainThread;

void signalBegins(QObject *sender, int signal, void **)
{
    if (std::this_thread::get_id() == mainThread)
        StepTrace::instance().emissionBegins(sender, signal);
}

void signalEnds(QObject *sender, int signal)
{
    if (std::this_thread::get_id() == mainThread)
        StepTrace::instance().emissionEnds(sender, signal);
}

QSignalSpyCallbackSet spyHooks = {signalBegins, nullptr, signalEnds, nullptr};

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
    emissions.reserve(64);
    mainThread = std::this_thread::get_id();
    qInstallMessageHandler(handleMessage);
    qt_register_signal_spy_callbacks(&spyHooks);
}

void StepTrace::logged(const QString &message)
{
    const bool send = message.startsWith(kSendLine);
    if (!send && !message.startsWith(kReadingLine)) {
        if (echoOthers)
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    const qint64 now = monotonicNs();
    // The innermost emission under way is the step timer's timeout().
    if (emissions.empty() || emissions.back().ranStep) {
        ++strays;
        return;
    }
    Emission &slot = emissions.back();
    slot.ranStep = true;
    if (recording)
        entries.push_back({send ? Kind::Send : Kind::Reading, now, slot.beginNs, 0});
    if (send) {
        ++sendCount;
        if (afterSend)
            afterSend(sendCount);
    }
}

void StepTrace::emissionBegins(QObject *sender, int signal)
{
    emissions.push_back({sender, signal, monotonicNs(), false});
}

void StepTrace::emissionEnds(QObject *sender, int signal)
{
    const qint64 now = monotonicNs();
    if (emissions.empty() || emissions.back().sender != sender ||
        emissions.back().signal != signal) {
        ++strays;
        emissions.clear();
        return;
    }
    if (emissions.back().ranStep) {
        slotNs += now - emissions.back().beginNs;
        if (recording && !entries.empty())
            entries.back().slotEndNs = now;
    }
    emissions.pop_back();
}
