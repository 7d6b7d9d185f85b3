#include "instruments/DMM_34461A.h"

#include "instruments/ArrivedBytes.h"

#include "context/TestContext.h"

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QThread>

#include <cstring>

Q_LOGGING_CATEGORY(lcDmm, "benchtest.dmm")

namespace {

// An over-long reply, or a resynchronisation, is given up after this long:
// a meter that never ends its reply must not hold the run for ever.
const qint64 kDrainLimitMs = 10000;

QString statusText(ViSession vi, ViStatus status)
{
    ViChar text[256] = {};
    viStatusDesc(vi, status, text);
    return QString::fromLatin1(text);
}

} // namespace

// Replies are read with count 200 into a zeroed 256-byte buffer, so the
// text always ends in a NUL; a NUL inside the reply cuts it there. What the
// reply holds beyond 200 bytes is read and dropped to its end: left in the
// input it would pass for the reply to the next query. A reply that does not
// arrive in time, or that brings a second line, leaves the link out of step,
// and its cell empty.
QString DMM_34461A::readReply()
{
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    ViUInt32 count = 0;
    const ViStatus status = viRead(vi, reinterpret_cast<ViPBuf>(buffer), 200, &count);
    if (status < VI_SUCCESS) {
        if (status == VI_ERROR_TMO)
            loseStep();
        if (status == VI_ERROR_CONN_LOST)
            loseConnection();
        qCDebug(lcDmm) << QString("DMM_34461A: Read Failed [" + statusText(vi, status) + "]");
    } else if (status == VI_SUCCESS_MAX_CNT) {
        qCDebug(lcDmm) << "DMM_34461A: Reply Too Long";
        char rest[256];
        ViUInt32 restCount = 0;
        QElapsedTimer draining;
        draining.start();
        ViStatus restStatus = VI_SUCCESS_MAX_CNT;
        while (restStatus == VI_SUCCESS_MAX_CNT && draining.elapsed() < kDrainLimitMs)
            restStatus = viRead(vi, reinterpret_cast<ViPBuf>(rest), 200, &restCount);
        if (restStatus != VI_SUCCESS)
            loseStep();
    } else if (passiveReads && extraReplyWaiting()) {
        qCDebug(lcDmm) << "DMM_34461A: Reply Has Extra Lines";
        loseStep();       // the Open replies before this one are in doubt too
        return QString(); // which line answered the query cannot be told
    }
    if (std::strlen(buffer) < count)
        qCDebug(lcDmm) << "DMM_34461A: Reply Has NUL";
    if (count > 0) {
        repliesRead += 1;
        sinceReply.start();
        if (sinceQuery.isValid())
            slowestReplyMs = qMax(slowestReplyMs, sinceQuery.elapsed());
        // A link that pairs replies with their queries needs no waiting.
        if (!passiveReads)
            resolvedUpTo = repliesRead;
    }
    return QString::fromUtf8(buffer);
}

// Reads what has arrived, without waiting and without a word on the wire.
// A meter that never stops talking is given up on after a while: the link is
// then brought back in step, which has a limit of its own.
QByteArray DMM_34461A::takeWhatArrived()
{
    const ArrivedBytes arrived = ArrivedBytes::take(vi, 4096);
    if (arrived.connectionLost)
        loseConnection();
    return arrived.bytes;
}

// What a meter says before it is asked (a banner on connecting) answers
// nothing: dropped, so that the identity query gets its own reply.
void DMM_34461A::dropGreeting()
{
    if (!passiveReads)
        return;
    const QByteArray greeting = takeWhatArrived();
    if (!greeting.isEmpty())
        qCDebug(lcDmm) << QString("DMM_34461A: Greeting Dropped [" +
                                  QString::fromUtf8(greeting).simplified().left(80) + "]");
}

DMM_34461A::ReplyState DMM_34461A::replyState(quint64 number) const
{
    if (number == 0 || disowned.contains(number))
        return ReplyState::Disowned;
    return number <= resolvedUpTo ? ReplyState::Confirmed : ReplyState::Open;
}

qint64 DMM_34461A::confirmingAgeMs() const
{
    return qMin<qint64>(
        qMax<qint64>(kMinConfirmingAgeMs, slowestReplyMs + slowestReplyMs / 2 + kQuietMs),
        timeoutMs);
}

void DMM_34461A::disownOpenReplies()
{
    for (quint64 number = resolvedUpTo + 1; number <= repliesRead; ++number)
        disowned.insert(number);
    resolvedUpTo = repliesRead;
}

// The link is out of step: whatever it answered since the last confirmation
// may belong to another query, so none of it is confirmed any more.
void DMM_34461A::loseStep()
{
    outOfStep = true;
    disownOpenReplies();
}

// The connection went before the replies in doubt could be confirmed: one of
// them may be a stray whose true answer went with it.
void DMM_34461A::loseConnection()
{
    connectionLost = true;
    disownOpenReplies();
}

void DMM_34461A::Abort()
{
    aborting = true;
    if (const ViSession session = abortable.load())
        viTerminate(session, 0, VI_NULL);
}

bool DMM_34461A::CheckLink()
{
    return look(false);
}

bool DMM_34461A::SettleLink()
{
    return look(true);
}

bool DMM_34461A::look(bool settle)
{
    if (passiveReads && (connectionLost || vi == VI_NULL)) {
        // The connection went before the replies in doubt could be confirmed:
        // one of them may be a stray whose true answer went with it.
        disownOpenReplies();
        return true;
    }
    if (!passiveReads || !TestContext.dmm.connected) {
        // Nothing to look at: a link that pairs replies told them already.
        resolvedUpTo = repliesRead;
        return true;
    }
    // A quick look takes no time: what it misses, a later look finds, and
    // the replies in doubt are still Open then.
    qint64 wait = 0;
    if (settle && sinceReply.isValid())
        wait = kQuietMs - sinceReply.elapsed();
    if (settle && resolvedUpTo < repliesRead && sinceQuery.isValid())
        wait = qMax(wait, confirmingAgeMs() - sinceQuery.elapsed());
    if (wait > 0)
        QThread::msleep(static_cast<unsigned long>(wait));
    const QByteArray stray = takeWhatArrived();
    if (!stray.isEmpty()) {
        qCDebug(lcDmm) << QString("DMM_34461A: Stray Reply [" +
                                  QString::fromUtf8(stray).simplified().left(80) + "]");
        loseStep();
        return false;
    }
    if (connectionLost)
        return true;
    if (!outOfStep && (!sinceQuery.isValid() || sinceQuery.elapsed() >= confirmingAgeMs()))
        resolvedUpTo = repliesRead;
    return true;
}

// Takes what came in behind a reply, without waiting for more.
bool DMM_34461A::extraReplyWaiting()
{
    ViUInt32 timeout = 0;
    if (viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout) != VI_SUCCESS)
        return false;
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE);
    char scratch[256];
    ViUInt32 count = 0;
    const ViStatus status = viRead(vi, reinterpret_cast<ViPBuf>(scratch), 200, &count);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeout);
    if (status == VI_ERROR_CONN_LOST)
        loseConnection();
    return status >= VI_SUCCESS && count > 0;
}

bool DMM_34461A::sendBytes(const char *bytes, ViUInt32 count)
{
    if (aborting)
        return false;
    if (connectionLost && !reconnect())
        return false;
    if (outOfStep && !bringBackInStep())
        return false;
    ViUInt32 written = 0;
    if (viWrite(vi, reinterpret_cast<ViConstBuf>(bytes), count, &written) == VI_ERROR_CONN_LOST) {
        loseConnection();
        return false;
    }
    return true;
}

// A meter that went away (restarted, its cable pulled) is opened again at the
// same address, checked to be the same meter by its identity, and given the
// set-up it had; until then every query's cell is empty.
bool DMM_34461A::reconnect()
{
    abortable = VI_NULL;
    viClose(vi);
    vi = VI_NULL;
    const QByteArray address = TestContext.dmm.address.toUtf8();
    const ViUInt32 openTimeoutMs =
        exchangeLimitMs > 0 ? qMin<ViUInt32>(exchangeLimitMs, 2000) : 2000;
    if (aborting || identity.isEmpty() ||
        viOpen(defaultRM, address.constData(), 0, openTimeoutMs, &vi) != VI_SUCCESS)
        return false;
    abortable = vi;
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs); // the new session keeps the old one's
    dropGreeting();
    ViUInt32 written = 0;
    char reply[256] = {};
    ViUInt32 count = 0;
    viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &written);
    viRead(vi, reinterpret_cast<ViPBuf>(reply), 200, &count);
    if (QString::fromUtf8(reply) != identity) {
        qCDebug(lcDmm) << QString("DMM_34461A: Reconnect Refused [" + QString::fromUtf8(reply) +
                                  "]");
        return false;
    }
    connectionLost = false;
    outOfStep = false;
    sinceReply.invalidate();
    sinceQuery.invalidate();
    for (const QByteArray &command : setupSent)
        viWrite(vi, reinterpret_cast<ViConstBuf>(command.constData()), ViUInt32(command.size()),
                &written);
    qCDebug(lcDmm) << QString("DMM_34461A: Reconnected [" + identity + "]");
    return true;
}

// Sends *IDN? and drops every reply up to the identity: whatever was on its
// way from earlier queries arrives before it, since the meter answers in
// order. Each read waits for a reply the meter owes, so none addresses a
// meter with nothing to say. Gives up after kDrainLimitMs; the link then
// stays out of step and the next query tries again.
bool DMM_34461A::bringBackInStep()
{
    // Whatever put the link out of step leaves the replies not yet confirmed
    // in doubt.
    disownOpenReplies();
    outOfStep = false;
    if (identity.isEmpty()) {
        outOfStep = true;
        return false;
    }
    ViUInt32 written = 0;
    viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &written);
    QElapsedTimer waited;
    waited.start();
    int dropped = 0;
    while (waited.elapsed() < kDrainLimitMs && !aborting) {
        char reply[256];
        std::memset(reply, 0, sizeof reply);
        ViUInt32 count = 0;
        const ViStatus status = viRead(vi, reinterpret_cast<ViPBuf>(reply), 200, &count);
        if (status == VI_ERROR_TMO)
            continue; // the meter is still busy with an earlier query
        if (status < VI_SUCCESS)
            break;
        if (status == VI_SUCCESS && QString::fromUtf8(reply) == identity) {
            qCDebug(lcDmm) << QString("DMM_34461A: Back In Step [%1 replies dropped]").arg(dropped);
            return true;
        }
        if (status == VI_SUCCESS)
            ++dropped;
    }
    qCDebug(lcDmm) << "DMM_34461A: Out Of Step";
    outOfStep = true;
    return false;
}

DMM_34461A::DMM_34461A() = default;

DMM_34461A::~DMM_34461A()
{
    TestContext.dmm.connected = false;
    if (viClose(defaultRM) == VI_SUCCESS)
        viClose(vi);
}

bool DMM_34461A::Connect()
{
    failure.clear();
    if (!TestContext.dmm.connected) {
        qCDebug(lcDmm) << QString("DMM_34461A: Connect [" + TestContext.dmm.address + "]");
        viOpenDefaultRM(&defaultRM);
        const QByteArray address = TestContext.dmm.address.toUtf8();
        const ViUInt32 openTimeoutMs =
            exchangeLimitMs > 0 ? qMin<ViUInt32>(exchangeLimitMs, 2000) : 2000;
        const ViStatus status = viOpen(defaultRM, address.constData(), 0, openTimeoutMs, &vi);
        if (status != VI_SUCCESS) {
            if (!aborting) // a stop is no fault of the meter's
                qCDebug(lcDmm) << "DMM_34461A: Connect Failed";
            failure = QStringLiteral("cannot be opened (%1)")
                          .arg(statusText(VI_NULL, status).section(QLatin1Char(':'), 0, 0));
            return false;
        }
        TestContext.dmm.connected = true;
        abortable = vi;
        ViChar resourceClass[256] = {};
        ViUInt16 interfaceType = 0;
        viGetAttribute(vi, VI_ATTR_RSRC_CLASS, resourceClass);
        viGetAttribute(vi, VI_ATTR_INTF_TYPE, &interfaceType);
        passiveReads = QLatin1String(resourceClass) == QLatin1String("SOCKET") ||
                       interfaceType == VI_INTF_ASRL;
        viGetAttribute(vi, VI_ATTR_TMO_VALUE, &sessionTimeoutMs);
        limitExchanges(exchangeLimitMs);
    }
    dropGreeting();

    setupSent.clear();
    identity = Query("*IDN?");
    if (identity.isEmpty()) {
        if (!aborting)
            qCDebug(lcDmm) << "DMM_34461A: Comm Failed";
        failure = QStringLiteral("does not answer *IDN?");
        TestContext.dmm.connected = false;
        return false;
    }
    qCDebug(lcDmm) << QString("DMM_34461A: Connected [" + identity + "]");
    Write("*CLS");
    return true;
}

void DMM_34461A::limitExchanges(ViUInt32 ms)
{
    exchangeLimitMs = ms;
    timeoutMs = ms > 0 ? qMin(ms, sessionTimeoutMs) : sessionTimeoutMs;
    if (vi != VI_NULL)
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
}

void DMM_34461A::Write(QString command)
{
    command += "\n";
    const QByteArray bytes = command.toLatin1();
    if (!TestContext.dmm.connected)
        return;
    // One byte per character: the count is the number of characters.
    if (sendBytes(bytes.constData(), ViUInt32(bytes.size())))
        setupSent.append(bytes);
}

QString DMM_34461A::Read()
{
    if (!TestContext.dmm.connected)
        return QString();
    return readReply();
}

QString DMM_34461A::Query(QString command)
{
    if (!TestContext.dmm.connected)
        return QString();
    command += "\n";
    const QByteArray bytes = command.toLatin1();
    CheckLink();
    // A link out of step answers nothing of this query: its cell is empty.
    if (!sendBytes(bytes.constData(), ViUInt32(bytes.size())))
        return QString();
    sinceQuery.start();
    return readReply();
}

QString DMM_34461A::GetIDN()
{
    if (!TestContext.dmm.connected)
        return QString();
    if (!sendBytes("*IDN?\n", 6))
        return QString();
    return readReply();
}

QString DMM_34461A::GetDVMVolt()
{
    if (!TestContext.dmm.connected)
        return QString();
    if (!sendBytes("MEAS:DVM:DC?\n", 13))
        return QString();
    QThread::msleep(100);
    return readReply();
}

bool DMM_34461A::Close()
{
    TestContext.dmm.connected = false;
    abortable = VI_NULL;
    if (viClose(defaultRM) != VI_SUCCESS)
        return false;
    return viClose(vi) == VI_SUCCESS;
}
