// The simulated instruments' models in process: SCPI matching, the meter's
// replies and reading format, and what the fault modes do to a reply.

#include "FaultMode.h"
#include "FixedReading.h"
#include "ScpiCommand.h"
#include "SimMultimeter.h"

#include <QtTest>

class InstrumentSimTest : public QObject
{
    Q_OBJECT

private slots:
    void scpiMatching_data();
    void scpiMatching();
    void meterReplies_data();
    void meterReplies();
    void readingFormat_data();
    void readingFormat();
    void faultShapes();
};

void InstrumentSimTest::scpiMatching_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("matches");
    QTest::addColumn<int>("suffix");

    QTest::newRow("short form") << QByteArray("CONF:VOLT:DC")
                                << QByteArray("CONFigure:VOLTage:[DC]") << true << 1;
    QTest::newRow("optional node left out")
        << QByteArray("CONF:VOLT") << QByteArray("CONFigure:VOLTage:[DC]") << true << 1;
    QTest::newRow("neither short nor long")
        << QByteArray("CONFI:VOLT") << QByteArray("CONFigure:VOLTage:[DC]") << false << 1;
    QTest::newRow("optional first node")
        << QByteArray("SENS:VOLT:DC:NPLC 10") << QByteArray("[SENSe]:VOLTage:[DC]:NPLCycles")
        << true << 1;
    QTest::newRow("query mark needed") << QByteArray("READ") << QByteArray("READ?") << false << 1;
    QTest::newRow("numeric suffix")
        << QByteArray("VOLT2 2.5") << QByteArray("[SOURce]:VOLTage#:[LEVel]") << true << 2;
    QTest::newRow("no suffix means 1")
        << QByteArray("VOLT 2.5") << QByteArray("[SOURce]:VOLTage#:[LEVel]") << true << 1;
    QTest::newRow("suffix not allowed")
        << QByteArray("CONF2:VOLT") << QByteArray("CONFigure:VOLTage:[DC]") << false << 1;
    QTest::newRow("extra node") << QByteArray("OUTP2:STAT:FOO ON") << QByteArray("OUTPut#:[STATe]")
                                << false << 1;
}

void InstrumentSimTest::scpiMatching()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, pattern);
    QFETCH(bool, matches);
    QFETCH(int, suffix);

    const ScpiCommand parsed(command);
    int got = -1;
    QCOMPARE(parsed.matches(pattern.constData(), &got), matches);
    if (matches && pattern.contains('#'))
        QCOMPARE(got, suffix);
}

void InstrumentSimTest::meterReplies_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("set-up has no reply") << QByteArray("VOLT:DC:IMP:AUTO ON\n") << QByteArray();
    QTest::newRow("voltmeter query")
        << QByteArray("MEAS:DVM:DC?\n") << QByteArray("+2.50000000E+00\n");
    QTest::newRow("two queries on a line")
        << QByteArray("*OPC?;READ?\n") << QByteArray("1;+2.50000000E+00\n");
    QTest::newRow("unknown header queued")
        << QByteArray("BOGUS?;SYST:ERR?\n") << QByteArray("-113,\"Undefined header\"\n");
    QTest::newRow("range overload")
        << QByteArray("VOLT:DC:RANG 1;:READ?\n") << QByteArray("+9.90000000E+37\n");
    QTest::newRow("bad argument") << QByteArray("VOLT:DC:NPLC abc;:SYST:ERR?\n")
                                  << QByteArray("-113,\"Undefined header\"\n");
}

void InstrumentSimTest::meterReplies()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, reply);
    FixedReading source(2.5);
    SimMultimeter meter(source);
    QCOMPARE(meter.respond(line), reply);
}

void InstrumentSimTest::readingFormat_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("range");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("volts") << 1.23456789 << 0.0 << QByteArray("+1.23456789E+00");
    QTest::newRow("within 120 % of range") << 11.9 << 10.0 << QByteArray("+1.19000000E+01");
    QTest::newRow("overload") << 12.5 << 10.0 << QByteArray("+9.90000000E+37");
    QTest::newRow("not a number") << qQNaN() << 0.0 << QByteArray("+9.90000000E+37");
}

void InstrumentSimTest::readingFormat()
{
    QFETCH(double, value);
    QFETCH(double, range);
    QFETCH(QByteArray, text);
    QCOMPARE(SimMultimeter::formatReading(value, range), text);
}

void InstrumentSimTest::faultShapes()
{
    FaultMode mode;
    QVERIFY(FaultMode::parse("nul", mode));
    QCOMPARE(mode.shape("+1.0E+00\n"), QByteArray("+1.0\0E+00\n", 10));
    QVERIFY(FaultMode::parse("long", mode));
    const QByteArray longReply = mode.shape("+1.0E+00\n");
    QVERIFY(longReply.size() > 200);
    QVERIFY(longReply.endsWith("\n"));
    QCOMPARE(longReply.count('\n'), 1);
    QVERIFY(FaultMode::parse("garbage", mode));
    QVERIFY(!QString::fromUtf8(mode.shape("+1.0E+00\n")).contains("1.0E"));
    QVERIFY(FaultMode::parse("slow:10", mode));
    QCOMPARE(mode.shape("+1.0E+00\n"), QByteArray("+1.0E+00\n"));
}

QTEST_APPLESS_MAIN(InstrumentSimTest)
#include "tst_instrumentsim.moc"
