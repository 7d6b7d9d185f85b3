// SOCKET sessions against a scripted peer on a real loopback connection:
// the read end rules, timeouts, lost connections and exact bytes written.

#include "OpenSession.h"
#include "ScriptedPeer.h"
#include "visa/SessionTable.h"
#include "visa/visa.h"

#include "LogCapture.h"
#include "LoopbackPort.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Chunk
{
    int pauseMs; // before sending
    QByteArray bytes;
};
using Script = QList<Chunk>;

struct Reply
{
    ViStatus status;
    QByteArray bytes;
};
using Replies = QList<Reply>;

Reply readOnce(ViSession vi, ViUInt32 count)
{
    ViByte buffer[256];
    std::memset(buffer, 0xAA, sizeof buffer);
    ViUInt32 returned = 12345;
    const ViStatus status = viRead(vi, buffer, count, &returned);
    // Nothing may be stored past the bytes reported.
    for (ViUInt32 i = returned; i < sizeof buffer; ++i) {
        if (buffer[i] != 0xAA)
            return {VI_ERROR_SYSTEM_ERROR, "wrote past the returned count"};
    }
    return {status, QByteArray(reinterpret_cast<const char *>(buffer), int(returned))};
}

} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Replies)

class VisaSocketTest : public QObject
{
    Q_OBJECT

private slots:
    void readEndRules_data();
    void readEndRules();
    void newlineIsEndSoReadReturnsAtOnce();
    void silentPeerTimesOutAfterTimeout();
    void closedConnectionFailsAtOnce();
    void writeSendsExactlyTheBytesGiven();
    void writeToPeerThatHasGoneDoesNotKillProcess();
    void refusedPortFailsFast();
    void attributes();
    void closingResourceManagerLeavesInstrumentOpen();
};

void VisaSocketTest::readEndRules_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<uint>("count");
    QTest::addColumn<bool>("termCharEnabled");
    QTest::addColumn<int>("termChar");
    QTest::addColumn<bool>("suppressEnd");
    QTest::addColumn<Replies>("replies");

    const QByteArray nul("A\0B\n", 4);
    QTest::newRow("one reply") << Script{{0, "+2.50010E+00\n"}} << false << 200u << false << 10
                               << false << Replies{{VI_SUCCESS, "+2.50010E+00\n"}};
    QTest::newRow("reply split in three")
        << Script{{0, "+1.2"}, {40, "34"}, {40, "5\n"}} << false << 200u << false << 10 << false
        << Replies{{VI_SUCCESS, "+1.2345\n"}};
    QTest::newRow("two replies in one segment")
        << Script{{0, "FIRST\nSECOND\n"}} << false << 200u << false << 10 << false
        << Replies{{VI_SUCCESS, "FIRST\n"}, {VI_SUCCESS, "SECOND\n"}};
    QTest::newRow("second reply split across segments")
        << Script{{0, "A\nB"}, {40, "C\n"}} << false << 200u << false << 10 << false
        << Replies{{VI_SUCCESS, "A\n"}, {VI_SUCCESS, "BC\n"}};
    QTest::newRow("count reached, rest kept")
        << Script{{0, "ABCDEFGH\n"}} << false << 4u << false << 10 << false
        << Replies{{VI_SUCCESS_MAX_CNT, "ABCD"}, {VI_SUCCESS_MAX_CNT, "EFGH"}, {VI_SUCCESS, "\n"}};
    QTest::newRow("count equals reply with newline")
        << Script{{0, "ABC\n"}} << false << 4u << false << 10 << false
        << Replies{{VI_SUCCESS, "ABC\n"}};
    QTest::newRow("termination character on")
        << Script{{0, "A;B\n"}} << false << 200u << true << int(';') << false
        << Replies{{VI_SUCCESS_TERM_CHAR, "A;"}, {VI_SUCCESS, "B\n"}};
    QTest::newRow("termination character off")
        << Script{{0, "A;B\n"}} << false << 200u << false << int(';') << false
        << Replies{{VI_SUCCESS, "A;B\n"}};
    QTest::newRow("newline termination character on")
        << Script{{0, "X\nY\n"}} << false << 200u << true << 10 << false
        << Replies{{VI_SUCCESS_TERM_CHAR, "X\n"}, {VI_SUCCESS_TERM_CHAR, "Y\n"}};
    QTest::newRow("NUL byte is data")
        << Script{{0, nul}} << false << 200u << false << 10 << false << Replies{{VI_SUCCESS, nul}};
    QTest::newRow("timeout keeps partial data") << Script{{0, "PART"}} << false << 200u << false
                                                << 10 << false << Replies{{VI_ERROR_TMO, "PART"}};
    QTest::newRow("END suppressed: newline is data")
        << Script{{0, "A\nB"}} << false << 200u << false << 10 << true
        << Replies{{VI_ERROR_TMO, "A\nB"}};
    QTest::newRow("lost with partial data")
        << Script{{0, "ABC"}} << true << 200u << false << 10 << false
        << Replies{{VI_ERROR_CONN_LOST, "ABC"}, {VI_ERROR_CONN_LOST, ""}};
    QTest::newRow("reply, then lost") << Script{{0, "OK\n"}} << true << 200u << false << 10 << false
                                      << Replies{{VI_SUCCESS, "OK\n"}, {VI_ERROR_CONN_LOST, ""}};
}

void VisaSocketTest::readEndRules()
{
    QFETCH(Script, script);
    QFETCH(bool, closeAfter);
    QFETCH(uint, count);
    QFETCH(bool, termCharEnabled);
    QFETCH(int, termChar);
    QFETCH(bool, suppressEnd);
    QFETCH(Replies, replies);

    ScriptedPeer peer;
    for (const Chunk &chunk : script)
        peer.pause(chunk.pauseMs).send(chunk.bytes);
    if (closeAfter)
        peer.pause(30).close();
    peer.start();

    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR, ViAttrState(termChar)), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, termCharEnabled), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_SUPPRESS_END_EN, suppressEnd), VI_SUCCESS);

    for (const Reply &expected : replies) {
        const Reply got = readOnce(session.vi, count);
        QCOMPARE(got.bytes, expected.bytes);
        QCOMPARE(got.status, expected.status);
    }
}

void VisaSocketTest::newlineIsEndSoReadReturnsAtOnce()
{
    ScriptedPeer peer;
    peer.awaitBytes(6).send("+1.00000000E+00\n").start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);

    // Default timeout of 2 s: the reply must come back on its newline, not then.
    QElapsedTimer clock;
    clock.start();
    ViUInt32 n = 0;
    QCOMPARE(viWrite(session.vi, reinterpret_cast<ViConstBuf>("READ?\n"), 6, &n), VI_SUCCESS);
    const Reply got = readOnce(session.vi, 200);
    QCOMPARE(got.status, VI_SUCCESS);
    QCOMPARE(got.bytes, QByteArray("+1.00000000E+00\n"));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

void VisaSocketTest::silentPeerTimesOutAfterTimeout()
{
    ScriptedPeer peer;
    peer.start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 250), VI_SUCCESS);

    QElapsedTimer clock;
    clock.start();
    const Reply got = readOnce(session.vi, 200);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(got.status, VI_ERROR_TMO);
    QCOMPARE(got.bytes, QByteArray());
    QVERIFY2(elapsed >= 240 && elapsed < 1000, qPrintable(QString::number(elapsed)));
}

void VisaSocketTest::closedConnectionFailsAtOnce()
{
    ScriptedPeer peer;
    peer.close().start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(readOnce(session.vi, 200).status, VI_ERROR_CONN_LOST);
    QCOMPARE(readOnce(session.vi, 200).status, VI_ERROR_CONN_LOST);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

void VisaSocketTest::writeSendsExactlyTheBytesGiven()
{
    ScriptedPeer peer;
    peer.start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);

    // Only `count` bytes go out, NUL bytes included.
    const char command[] = "CONF:VOLT:DC\nGARBAGE";
    ViUInt32 written = 0;
    QCOMPARE(viWrite(session.vi, reinterpret_cast<ViConstBuf>(command), 13, &written), VI_SUCCESS);
    QCOMPARE(written, 13u);
    const QByteArray withNul("A\0B\n", 4);
    QCOMPARE(viWrite(session.vi, reinterpret_cast<ViConstBuf>(withNul.constData()), 4, nullptr),
             VI_SUCCESS);
    QCOMPARE(viWrite(session.vi, nullptr, 0, &written), VI_SUCCESS);
    QCOMPARE(written, 0u);

    const QByteArray expected = QByteArray("CONF:VOLT:DC\n") + withNul;
    QTRY_COMPARE_WITH_TIMEOUT(peer.received(), expected, 2000);
}

void VisaSocketTest::writeToPeerThatHasGoneDoesNotKillProcess()
{
    ScriptedPeer peer;
    peer.close().start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);
    QTest::qWait(50);

    // The first write may still be accepted by the kernel; the peer's reset
    // then turns later ones into a lost connection instead of SIGPIPE.
    const QByteArray line(1000, 'x');
    ViStatus status = VI_SUCCESS;
    for (int i = 0; i < 20 && status == VI_SUCCESS; ++i) {
        status = viWrite(session.vi, reinterpret_cast<ViConstBuf>(line.constData()),
                         ViUInt32(line.size()), nullptr);
        QTest::qWait(10);
    }
    QCOMPARE(status, VI_ERROR_CONN_LOST);
    QCOMPARE(readOnce(session.vi, 200).status, VI_ERROR_CONN_LOST);
}

void VisaSocketTest::refusedPortFailsFast()
{
    const QString resource = QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
    QElapsedTimer clock;
    clock.start();
    OpenSession session(resource);
    QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(session.vi, ViSession(VI_NULL));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
}

void VisaSocketTest::attributes()
{
    ScriptedPeer peer;
    peer.start();
    OpenSession session(QString("tcpip::127.0.0.1::%1::socket").arg(peer.port()));
    QCOMPARE(session.status, VI_SUCCESS);

    ViUInt32 timeout = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
    QCOMPARE(timeout, 2000u);
    ViUInt8 termChar = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TERMCHAR, &termChar), VI_SUCCESS);
    QCOMPARE(termChar, ViUInt8('\n'));
    ViBoolean enabled = VI_TRUE;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, &enabled), VI_SUCCESS);
    QCOMPARE(enabled, ViBoolean(VI_FALSE));
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, 1), VI_SUCCESS);
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, &enabled), VI_SUCCESS);
    QCOMPARE(enabled, ViBoolean(VI_TRUE));

    char name[VI_FIND_BUFLEN] = {};
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
    QCOMPARE(QString(name), QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(peer.port()));
    ViUInt16 port = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TCPIP_PORT, &port), VI_SUCCESS);
    QCOMPARE(port, peer.port());
    ViUInt16 type = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_INTF_TYPE, &type), VI_SUCCESS);
    QCOMPARE(type, ViUInt16(VI_INTF_TCPIP));

    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_INTF_TYPE, 1), VI_ERROR_ATTR_READONLY);
    QCOMPARE(viSetAttribute(session.vi, 0x3FFF7777, 1), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_GPIB_PRIMARY_ADDR, &type), VI_ERROR_NSUP_ATTR);
}

void VisaSocketTest::closingResourceManagerLeavesInstrumentOpen()
{
    ScriptedPeer peer;
    peer.awaitBytes(3).send("PONG\n").start();
    const std::size_t before = visa::SessionTable::instance().openCount();

    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, peer.socketResource().toUtf8().constData(), VI_NULL, 2000, &vi),
             VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);

    // The drivers close the manager first and then the instrument session.
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("P?\n"), 3, nullptr), VI_SUCCESS);
    QCOMPARE(readOnce(vi, 200).bytes, QByteArray("PONG\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(vi), VI_ERROR_INV_OBJECT);
    QCOMPARE(viRead(vi, nullptr, 0, nullptr), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa::SessionTable::instance().openCount(), before);
}

QTEST_GUILESS_MAIN(VisaSocketTest)
#include "tst_visasocket.moc"
