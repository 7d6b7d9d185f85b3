// ASRL sessions over a real pseudo-terminal: line settings, the read end
// rules of a serial port, exact bytes written, a port that goes away.

#include "tests/instruments/OpenSession.h"
#include "tests/support/DeviceNode.h"
#include "tools/boardsim/PseudoTerminal.h"

#include <QtTest>

using Attributes = QList<QPair<ViAttr, ViAttrState>>;
Q_DECLARE_METATYPE(Attributes)

namespace {

QString resource(const PseudoTerminal &pty)
{
    return "ASRL" + pty.devicePath() + "::INSTR";
}

} // namespace

class VisaAsrlTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readEndRules_data();
    void readEndRules();
    void writeSendsExactBytes();
    void lineSettings();
    void hangUp_connectionLost();
    void missingOrNotSerial_notFound();

private:
    PseudoTerminal pty;
};

void VisaAsrlTest::init()
{
    pty.close();
    QString error;
    QVERIFY2(pty.open(&error), qPrintable(error));
}

void VisaAsrlTest::readEndRules_data()
{
    QTest::addColumn<Attributes>("attributes");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<uint>("count");
    QTest::addColumn<QList<Read>>("reads");

    QTest::newRow("newline ends by default")
        << Attributes() << QByteArray("+1.5E+00\nNEXT\n") << 200u
        << QList<Read>{{VI_SUCCESS, "+1.5E+00\n"}, {VI_SUCCESS, "NEXT\n"}};
    QTest::newRow("other termination character")
        << Attributes{{VI_ATTR_TERMCHAR, '\r'}} << QByteArray("A\nB\rC") << 200u
        << QList<Read>{{VI_SUCCESS, "A\nB\r"}, {VI_ERROR_TMO, "C"}};
    QTest::newRow("no end on input")
        << Attributes{{VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE}} << QByteArray("A\nB") << 200u
        << QList<Read>{{VI_ERROR_TMO, "A\nB"}};
    QTest::newRow("count reached")
        << Attributes() << QByteArray("ABCDEF\n") << 4u
        << QList<Read>{{VI_SUCCESS_MAX_CNT, "ABCD"}, {VI_SUCCESS, "EF\n"}};
}

void VisaAsrlTest::readEndRules()
{
    QFETCH(Attributes, attributes);
    QFETCH(QByteArray, sent);
    QFETCH(uint, count);
    QFETCH(QList<Read>, reads);

    // A read that should end by a rule gets a long timeout: waiting for the
    // timeout instead shows as VI_ERROR_TMO.
    const bool timesOut = std::any_of(reads.begin(), reads.end(),
                                      [](const Read &read) { return read.first == VI_ERROR_TMO; });
    OpenSession session(resource(pty), timesOut ? 200 : 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    for (const auto &attribute : attributes)
        QCOMPARE(viSetAttribute(session.vi, attribute.first, attribute.second), VI_SUCCESS);
    QVERIFY(pty.write(sent));
    for (const Read &expected : reads)
        QCOMPARE(session.read(count), expected);
}

void VisaAsrlTest::writeSendsExactBytes()
{
    OpenSession session(resource(pty));
    QCOMPARE(session.status, VI_SUCCESS);
    // Raw output: no newline translation, NUL bytes pass.
    const QByteArray bytes("MEAS:DVM:DC?\n\0\r", 15);
    QCOMPARE(session.write(bytes), VI_SUCCESS);
    QByteArray received;
    QTRY_COMPARE(received += pty.readAvailable(), bytes);
}

// What the device holds: 9600 8N1 on open (the pseudo-terminal starts at
// 115200), what the session is asked for, and nothing it refuses.
void VisaAsrlTest::lineSettings()
{
    OpenSession session(resource(pty));
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(pty.lineSettings().baudRate, 9600);
    QCOMPARE(pty.lineSettings().stopBits, 1);

    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_BAUD, 115200), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO), VI_SUCCESS);
    QCOMPARE(pty.lineSettings().baudRate, 115200);
    QCOMPARE(pty.lineSettings().stopBits, 2);

    const Attributes refused = {{VI_ATTR_ASRL_BAUD, 12345},
                                {VI_ATTR_ASRL_PARITY, 7},
                                {VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE5},
                                {VI_ATTR_ASRL_DATA_BITS, 0x10008}};
    for (const auto &[attribute, value] : refused)
        QCOMPARE(viSetAttribute(session.vi, attribute, value), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(pty.lineSettings().baudRate, 115200);
    QCOMPARE(pty.lineSettings().stopBits, 2);
}

void VisaAsrlTest::hangUp_connectionLost()
{
    OpenSession session(resource(pty), 100);
    QCOMPARE(session.status, VI_SUCCESS);
    QVERIFY(pty.write("PART"));
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, "PART"));

    pty.close();
    // Long: waiting for the timeout instead would show as VI_ERROR_TMO.
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 20000), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_ERROR_CONN_LOST, ""));
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
}

void VisaAsrlTest::missingOrNotSerial_notFound()
{
    QTemporaryDir folder;
    QString why;
    const QString notSerial = privateNullDevice(folder.path(), &why);
    if (notSerial.isEmpty())
        QSKIP(qPrintable(why));
    const QByteArray names[] = {"ASRL" + folder.filePath("no-such-serial-port").toUtf8() + "::INSTR",
                                "ASRL" + notSerial.toUtf8() + "::INSTR"};
    for (const QByteArray &name : names) {
        OpenSession session(QString::fromUtf8(name));
        QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
        QCOMPARE(session.vi, ViSession(VI_NULL));
    }
}

QTEST_GUILESS_MAIN(VisaAsrlTest)
#include "tst_visaasrl.moc"
