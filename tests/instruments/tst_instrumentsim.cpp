// The simulated instruments' models in process: SCPI matching, fault
// shaping, reading format, supply state.

#include "FaultMode.h"
#include "FixedReading.h"
#include "ScpiCommand.h"
#include "SimMultimeter.h"
#include "SimSupply.h"
#include "Transcript.h"

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
    void supplyState();
    void faultParsing_data();
    void faultParsing();
    void faultShapes();
    void transcriptEscapes();
};

void InstrumentSimTest::scpiMatching_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("matches");
    QTest::addColumn<int>("suffix");

    QTest::newRow("short form") << QByteArray("CONF:VOLT:DC")
                                << QByteArray("CONFigure:VOLTage:[DC]") << true << 1;
    QTest::newRow("long form, lower case")
        << QByteArray("configure:voltage:dc") << QByteArray("CONFigure:VOLTage:[DC]") << true << 1;
    QTest::newRow("optional node left out")
        << QByteArray("CONF:VOLT") << QByteArray("CONFigure:VOLTage:[DC]") << true << 1;
    QTest::newRow("leading colon")
        << QByteArray(":CONF:VOLT:DC") << QByteArray("CONFigure:VOLTage:[DC]") << true << 1;
    QTest::newRow("neither short nor long")
        << QByteArray("CONFI:VOLT") << QByteArray("CONFigure:VOLTage:[DC]") << false << 1;
    QTest::newRow("optional first node")
        << QByteArray("SENS:VOLT:DC:NPLC 10") << QByteArray("[SENSe]:VOLTage:[DC]:NPLCycles")
        << true << 1;
    QTest::newRow("query mark needed") << QByteArray("READ") << QByteArray("READ?") << false << 1;
    QTest::newRow("query mixed case") << QByteArray("Read?") << QByteArray("READ?") << true << 1;
    QTest::newRow("common command") << QByteArray("*idn?") << QByteArray("*IDN?") << true << 1;
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

    QTest::newRow("identity") << QByteArray("*IDN?\n")
                              << QByteArray("BenchSim,34461A,SIM0001,A.02.14\n");
    QTest::newRow("set-up has no reply") << QByteArray("VOLT:DC:IMP:AUTO ON\n") << QByteArray();
    QTest::newRow("reading") << QByteArray("READ?\n") << QByteArray("+2.50000000E+00\n");
    QTest::newRow("voltmeter query")
        << QByteArray("MEAS:DVM:DC?\n") << QByteArray("+2.50000000E+00\n");
    QTest::newRow("two queries on a line")
        << QByteArray("*OPC?;READ?\n") << QByteArray("1;+2.50000000E+00\n");
    QTest::newRow("unknown header queued")
        << QByteArray("BOGUS?;SYST:ERR?\n") << QByteArray("-113,\"Undefined header\"\n");
    QTest::newRow("error queue empty")
        << QByteArray("SYST:ERR?\n") << QByteArray("+0,\"No error\"\n");
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
    QTest::newRow("negative") << -0.0123 << 0.0 << QByteArray("-1.23000000E-02");
    QTest::newRow("milliamps") << 0.000512 << 0.001 << QByteArray("+5.12000000E-04");
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

void InstrumentSimTest::supplyState()
{
    FixedReading dvm(1.5);
    SimSupply supply(dvm);
    QCOMPARE(supply.respond("*TST?\n"), QByteArray("0\n"));
    QCOMPARE(supply.respond("DISP:CHAN 2\n"), QByteArray());
    QCOMPARE(supply.respond("VOLT2 2.5\n"), QByteArray());
    QCOMPARE(supply.respond("outp2 on\n"), QByteArray());
    QCOMPARE(supply.respond("CURR1 0.001\n"), QByteArray());
    QCOMPARE(supply.displayChannel(), 2);
    QCOMPARE(supply.voltage(2), 2.5);
    QVERIFY(supply.isOn(2));
    QVERIFY(!supply.isOn(1));
    QCOMPARE(supply.current(1), 0.001);
    QCOMPARE(supply.respond("MEAS:VOLT2?;MEAS:VOLT1?;MEAS:DVM:DC?\n"),
             QByteArray("+2.50000E+00;+0.00000E+00;+1.50000E+00\n"));
    QCOMPARE(supply.respond("VOLT3 1\n"), QByteArray()); // no third output
    QCOMPARE(supply.errors(), QList<QByteArray>({"-113,\"Undefined header\""}));
    QCOMPARE(supply.respond("OUTP2 OFF\n"), QByteArray());
    QVERIFY(!supply.isOn(2));
}

void InstrumentSimTest::faultParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("none") << "none" << true << "none";
    QTest::newRow("silent upper case") << "SILENT" << true << "silent";
    QTest::newRow("slow default") << "slow" << true << "slow:3000";
    QTest::newRow("slow 250") << "slow:250" << true << "slow:250";
    QTest::newRow("disconnect default") << "disconnect" << true << "disconnect:1";
    QTest::newRow("disconnect 0") << "disconnect:0" << true << "disconnect:0";
    QTest::newRow("nul") << "nul" << true << "nul";
    QTest::newRow("long") << "long" << true << "long";
    QTest::newRow("garbage") << "garbage" << true << "garbage";
    QTest::newRow("unknown") << "flaky" << false << "";
    QTest::newRow("negative") << "slow:-5" << false << "";
    QTest::newRow("value where none is taken") << "nul:3" << false << "";
    QTest::newRow("not a number") << "disconnect:x" << false << "";
}

void InstrumentSimTest::faultParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, normalised);
    FaultMode mode;
    QCOMPARE(FaultMode::parse(text, mode), valid);
    if (valid)
        QCOMPARE(mode.toString(), normalised);
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

void InstrumentSimTest::transcriptEscapes()
{
    QCOMPARE(Transcript::escape(QByteArray("A\0B\r\n", 5)), QByteArray("A\\x00B\\r\\n"));
    QCOMPARE(Transcript::escape("tab\there \\ \xB5"), QByteArray("tab\\there \\\\ \\xB5"));
}

QTEST_APPLESS_MAIN(InstrumentSimTest)
#include "tst_instrumentsim.moc"
