// SOCKET sessions against a scripted peer on a real loopback connection:
// the read end rules, timeouts, lost connections and the exact bytes written.

#include "tests/instruments/OpenSession.h"
#include "tests/support/ScriptedPeer.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

struct Chunk
{
    int pauseMs; // before sending
    QByteArray bytes;
};
using Script = QList<Chunk>;

} // namespace

Q_DECLARE_METATYPE(Script)

class VisaSocketTest : public QObject
{
    Q_OBJECT

private slots:
    void readEndRules_data();
    void readEndRules();
    void writeSendsExactlyTheBytesGiven();
    void writeToPeerThatHasGoneDoesNotKillProcess();
};

void VisaSocketTest::readEndRules_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<uint>("count");
    QTest::addColumn<int>("termChar"); // enabled; -1: left off
    QTest::addColumn<bool>("suppressEnd");
    QTest::addColumn<QList<Read>>("reads");

    const QByteArray nul("A\0B\n", 4);
    QTest::newRow("reply split in three")
        << Script{{0, "+1.2"}, {40, "34"}, {40, "5\n"}} << false << 200u << -1 << false
        << QList<Read>{{VI_SUCCESS, "+1.2345\n"}};
    QTest::newRow("two replies in one segment")
        << Script{{0, "FIRST\nSECOND\n"}} << false << 200u << -1 << false
        << QList<Read>{{VI_SUCCESS, "FIRST\n"}, {VI_SUCCESS, "SECOND\n"}};
    QTest::newRow("count reached, rest kept")
        << Script{{0, "ABCDEFGH\n"}} << false << 4u << -1 << false
        << QList<Read>{
               {VI_SUCCESS_MAX_CNT, "ABCD"}, {VI_SUCCESS_MAX_CNT, "EFGH"}, {VI_SUCCESS, "\n"}};
    QTest::newRow("termination character")
        << Script{{0, "A;B\n"}} << false << 200u << int(';') << false
        << QList<Read>{{VI_SUCCESS_TERM_CHAR, "A;"}, {VI_SUCCESS, "B\n"}};
    QTest::newRow("NUL byte is data")
        << Script{{0, nul}} << false << 200u << -1 << false << QList<Read>{{VI_SUCCESS, nul}};
    QTest::newRow("timeout keeps partial data") << Script{{0, "PART"}} << false << 200u << -1
                                                << false << QList<Read>{{VI_ERROR_TMO, "PART"}};
    QTest::newRow("END suppressed: newline is data") << Script{{0, "A\nB"}} << false << 200u << -1
                                                     << true << QList<Read>{{VI_ERROR_TMO, "A\nB"}};
    QTest::newRow("lost with partial data")
        << Script{{0, "ABC"}} << true << 200u << -1 << false
        << QList<Read>{{VI_ERROR_CONN_LOST, "ABC"}, {VI_ERROR_CONN_LOST, ""}};
}

void VisaSocketTest::readEndRules()
{
    QFETCH(Script, script);
    QFETCH(bool, closeAfter);
    QFETCH(uint, count);
    QFETCH(int, termChar);
    QFETCH(bool, suppressEnd);
    QFETCH(QList<Read>, reads);

    ScriptedPeer peer;
    for (const Chunk &chunk : script)
        peer.pause(chunk.pauseMs).send(chunk.bytes);
    if (closeAfter)
        peer.pause(30).close();
    peer.start();

    // A read that should end by a rule gets a long timeout: waiting for the
    // timeout instead shows as VI_ERROR_TMO.
    const bool timesOut = std::any_of(reads.begin(), reads.end(),
                                      [](const Read &read) { return read.first == VI_ERROR_TMO; });
    const ViUInt32 timeoutMs = timesOut ? 300 : 20000;
    OpenSession session(peer.socketResource(), timeoutMs);
    QCOMPARE(session.status, VI_SUCCESS);
    if (termChar >= 0) {
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR, ViAttrState(termChar)), VI_SUCCESS);
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    }
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_SUPPRESS_END_EN, suppressEnd), VI_SUCCESS);

    for (const Read &expected : reads) {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(session.read(count), expected);
        if (expected.first == VI_ERROR_TMO) // not early
            QVERIFY2(clock.elapsed() >= timeoutMs - 5,
                     qPrintable(QString::number(clock.elapsed())));
    }
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

    QTRY_COMPARE(peer.received(), QByteArray("CONF:VOLT:DC\n") + withNul);
}

void VisaSocketTest::writeToPeerThatHasGoneDoesNotKillProcess()
{
    ScriptedPeer peer;
    peer.close().start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);
    QTRY_COMPARE(peer.stepsPlayed(), 1);

    // The first write may still be accepted by the kernel; the peer's reset
    // then turns a later one into a lost connection instead of SIGPIPE.
    QTRY_COMPARE(session.write(QByteArray(1000, 'x')), VI_ERROR_CONN_LOST);
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
}

QTEST_GUILESS_MAIN(VisaSocketTest)
#include "tst_visasocket.moc"
