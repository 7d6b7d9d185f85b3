// The two byte-stream sessions: SOCKET against a scripted peer on a real
// loopback connection, ASRL over a real pseudo-terminal. The read end rules,
// timeouts, lost connections, the exact bytes written, and a serial port's
// line settings.

#include "tests/instruments/OpenSession.h"
#include "tests/support/DeviceNode.h"
#include "tests/support/ScriptedPeer.h"
#include "tools/boardsim/PseudoTerminal.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

struct Chunk
{
    int pauseMs; // before sending
    QByteArray bytes;
};
using Script = QList<Chunk>;
using Attributes = QList<QPair<ViAttr, ViAttrState>>;

} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Attributes)

class VisaStreamsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readEndRules_data();
    void readEndRules();
    void socketWriteSendsExactlyTheBytesGiven();
    void socketWriteToPeerThatHasGoneDoesNotKillProcess();
    void serialSession();
    void serialMissingOrNotSerial_notFound();

private:
    QString serialResource() const { return "ASRL" + pty.devicePath() + "::INSTR"; }

    PseudoTerminal pty;
};

void VisaStreamsTest::init()
{
    pty.close();
    QString error;
    QVERIFY2(pty.open(&error), qPrintable(error));
}

void VisaStreamsTest::readEndRules_data()
{
    QTest::addColumn<bool>("serial"); // the script goes to the pseudo-terminal, no pauses
    QTest::addColumn<Script>("script");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<Attributes>("attributes");
    QTest::addColumn<uint>("count");
    QTest::addColumn<QList<Read>>("reads");

    const QByteArray nul("A\0B\n", 4);
    const Attributes none;
    QTest::newRow("socket: reply split in three")
        << false << Script{{0, "+1.2"}, {40, "34"}, {40, "5\n"}} << false << none << 200u
        << QList<Read>{{VI_SUCCESS, "+1.2345\n"}};
    QTest::newRow("socket: two replies in one segment")
        << false << Script{{0, "FIRST\nSECOND\n"}} << false << none << 200u
        << QList<Read>{{VI_SUCCESS, "FIRST\n"}, {VI_SUCCESS, "SECOND\n"}};
    QTest::newRow("socket: count reached, rest kept")
        << false << Script{{0, "ABCDEFGH\n"}} << false << none << 4u
        << QList<Read>{
               {VI_SUCCESS_MAX_CNT, "ABCD"}, {VI_SUCCESS_MAX_CNT, "EFGH"}, {VI_SUCCESS, "\n"}};
    QTest::newRow("socket: termination character")
        << false << Script{{0, "A;B\n"}} << false
        << Attributes{{VI_ATTR_TERMCHAR, ';'}, {VI_ATTR_TERMCHAR_EN, VI_TRUE}} << 200u
        << QList<Read>{{VI_SUCCESS_TERM_CHAR, "A;"}, {VI_SUCCESS, "B\n"}};
    QTest::newRow("socket: NUL byte is data")
        << false << Script{{0, nul}} << false << none << 200u << QList<Read>{{VI_SUCCESS, nul}};
    QTest::newRow("socket: END suppressed, newline is data")
        << false << Script{{0, "A\nB"}} << false << Attributes{{VI_ATTR_SUPPRESS_END_EN, VI_TRUE}}
        << 200u << QList<Read>{{VI_ERROR_TMO, "A\nB"}};
    QTest::newRow("socket: lost with partial data")
        << false << Script{{0, "ABC"}} << true << none << 200u
        << QList<Read>{{VI_ERROR_CONN_LOST, "ABC"}, {VI_ERROR_CONN_LOST, ""}};
    QTest::newRow("serial: newline ends by default")
        << true << Script{{0, "+1.5E+00\nNEXT\n"}} << false << none << 200u
        << QList<Read>{{VI_SUCCESS, "+1.5E+00\n"}, {VI_SUCCESS, "NEXT\n"}};
    QTest::newRow("serial: other termination character")
        << true << Script{{0, "A\nB\rC"}} << false << Attributes{{VI_ATTR_TERMCHAR, '\r'}} << 200u
        << QList<Read>{{VI_SUCCESS, "A\nB\r"}, {VI_ERROR_TMO, "C"}};
    QTest::newRow("serial: no end on input") << true << Script{{0, "A\nB"}} << false
                                             << Attributes{{VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE}}
                                             << 200u << QList<Read>{{VI_ERROR_TMO, "A\nB"}};
}

void VisaStreamsTest::readEndRules()
{
    QFETCH(bool, serial);
    QFETCH(Script, script);
    QFETCH(bool, closeAfter);
    QFETCH(Attributes, attributes);
    QFETCH(uint, count);
    QFETCH(QList<Read>, reads);

    ScriptedPeer peer;
    if (!serial) {
        for (const Chunk &chunk : script)
            peer.pause(chunk.pauseMs).send(chunk.bytes);
        if (closeAfter)
            peer.pause(30).close();
        peer.start();
    }

    // A read that should end by a rule gets a long timeout: waiting for the
    // timeout instead shows as VI_ERROR_TMO.
    const bool timesOut = std::any_of(reads.begin(), reads.end(),
                                      [](const Read &read) { return read.first == VI_ERROR_TMO; });
    const ViUInt32 timeoutMs = timesOut ? 300 : 20000;
    OpenSession session(serial ? serialResource() : peer.socketResource(), timeoutMs);
    QCOMPARE(session.status, VI_SUCCESS);
    for (const auto &[attribute, value] : attributes)
        QCOMPARE(viSetAttribute(session.vi, attribute, value), VI_SUCCESS);
    for (const Chunk &chunk : script) {
        if (serial)
            QVERIFY(pty.write(chunk.bytes));
    }

    for (const Read &expected : reads) {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(session.read(count), expected);
        if (expected.first == VI_ERROR_TMO) // not early
            QVERIFY2(clock.elapsed() >= timeoutMs - 5,
                     qPrintable(QString::number(clock.elapsed())));
    }
}

void VisaStreamsTest::socketWriteSendsExactlyTheBytesGiven()
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

void VisaStreamsTest::socketWriteToPeerThatHasGoneDoesNotKillProcess()
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

// One session on the pseudo-terminal: raw output (no newline translation,
// NUL bytes pass); 9600 8N1 on open (the pseudo-terminal starts at 115200),
// what the session is asked for and nothing it refuses; then the hang-up.
void VisaStreamsTest::serialSession()
{
    OpenSession session(serialResource(), 100);
    QCOMPARE(session.status, VI_SUCCESS);
    const QByteArray bytes("MEAS:DVM:DC?\n\0\r", 15);
    QCOMPARE(session.write(bytes), VI_SUCCESS);
    QByteArray received;
    QTRY_COMPARE(received += pty.readAvailable(), bytes);

    QCOMPARE(pty.lineSettings().baudRate, 9600);
    QCOMPARE(pty.lineSettings().stopBits, 1);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_BAUD, 115200), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO), VI_SUCCESS);
    const Attributes refused = {{VI_ATTR_ASRL_BAUD, 12345},
                                {VI_ATTR_ASRL_PARITY, 7},
                                {VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE5},
                                {VI_ATTR_ASRL_DATA_BITS, 0x10008}};
    for (const auto &[attribute, value] : refused)
        QCOMPARE(viSetAttribute(session.vi, attribute, value), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(pty.lineSettings().baudRate, 115200);
    QCOMPARE(pty.lineSettings().stopBits, 2);

    QVERIFY(pty.write("PART"));
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, "PART"));
    pty.close();
    // Long: waiting for the timeout instead would show as VI_ERROR_TMO.
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 20000), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_ERROR_CONN_LOST, ""));
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
}

void VisaStreamsTest::serialMissingOrNotSerial_notFound()
{
    QTemporaryDir folder;
    QString why;
    const QString notSerial = privateNullDevice(folder.path(), &why);
    if (notSerial.isEmpty())
        QSKIP(qPrintable(why));
    for (const QString &path : {folder.filePath("no-such-serial-port"), notSerial}) {
        OpenSession session("ASRL" + path + "::INSTR");
        QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
        QCOMPARE(session.vi, ViSession(VI_NULL));
    }
}

QTEST_GUILESS_MAIN(VisaStreamsTest)
#include "tst_visastreams.moc"
