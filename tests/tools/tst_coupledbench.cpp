// benchsim with --board: the meter's reading follows the value the board last
// received, in the quantity of the meter's last CONF command.
#include "serial/ValueFrame.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/benchsim/OutputModel.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QTest>

namespace {

// One benchsim process with the board, and the two links a test talks over.
class CoupledBench
{
public:
    explicit CoupledBench(const QStringList &options)
    {
        if (!sim.start(QStringList{"--board", "--dmm"} + options))
            return;
        board.setPortName(sim.address("board"));
        board.open(QIODevice::ReadWrite);
        meter.connectToHost(QStringLiteral("127.0.0.1"), sim.rawPort("dmm"));
        meter.waitForConnected(5000);
    }

    bool ready() const { return board.isOpen() && meter.state() == QTcpSocket::ConnectedState; }
    QString error() const { return sim.error() + board.errorString(); }

    // Returns once the board has taken the value.
    bool sendValue(qint32 value)
    {
        const qsizetype before = sim.transcript("board").size();
        board.write(ValueFrame::encode(value));
        return QTest::qWaitFor([&] { return sim.transcript("board").size() > before; }, 20000);
    }

    void command(const QByteArray &line) { meter.write(line + '\n'); }

    QByteArray query(const QByteArray &line)
    {
        command(line);
        while (!meter.canReadLine() && meter.waitForReadyRead(20000)) {
        }
        return meter.readLine().trimmed();
    }

    SimulatorProcess sim;

private:
    QSerialPort board;
    QTcpSocket meter;
};

} // namespace

class tst_CoupledBench : public QObject
{
    Q_OBJECT

private slots:
    void outputModel_data();
    void outputModel();
    void readingFollowsTheBoard();
    void seededNoiseIsReproducible();
};

void tst_CoupledBench::outputModel_data()
{
    QTest::addColumn<qint64>("code");
    QTest::addColumn<double>("volts");
    QTest::addColumn<double>("amperes");
    // gain 0.001 V, offset 0.01 V, bow 0.004 V over 100 codes, code 50 stuck;
    // sink 2 uA per code from 1 uA.
    QTest::newRow("quarter") << qint64(25) << 0.01 + 0.025 + 0.004 * 0.75 << 51e-6;
    QTest::newRow("stuck code repeats the one below")
        << qint64(50) << 0.01 + 0.049 + 0.004 * 4 * 0.49 * 0.51 << 99e-6;
    QTest::newRow("code after it")
        << qint64(51) << 0.01 + 0.051 + 0.004 * 4 * 0.51 * 0.49 << 103e-6;
    QTest::newRow("beyond full scale") << qint64(200) << 0.21 << 401e-6;
}

void tst_CoupledBench::outputModel()
{
    QFETCH(qint64, code);
    QFETCH(double, volts);
    QFETCH(double, amperes);
    OutputModel model;
    model.gain = 0.001;
    model.offset = 0.01;
    model.bow = 0.004;
    model.fullScale = 100;
    model.missingCodes = {50};
    model.sinkGain = 2e-6;
    model.sinkOffset = 1e-6;
    QVERIFY(qAbs(model.voltage(code) - volts) < 1e-12);
    QVERIFY(qAbs(model.current(code) - amperes) < 1e-15);
}

void tst_CoupledBench::readingFollowsTheBoard()
{
    CoupledBench bench({"--gain", "0.5", "--offset", "0.25", "--sink-gain", "1e-6"});
    QVERIFY2(bench.ready(), qPrintable(bench.error()));

    bench.command("CONF:VOLT:DC");
    QCOMPARE(bench.query("READ?"), QByteArray("+2.50000000E-01")); // code 0 before any frame
    QVERIFY(bench.sendValue(4));
    QCOMPARE(bench.query("READ?"), QByteArray("+2.25000000E+00"));
    QVERIFY(bench.sendValue(-2));
    QCOMPARE(bench.query("READ?"), QByteArray("-7.50000000E-01"));
    QVERIFY(bench.sendValue(500));
    bench.command("CONF:CURR:DC");
    bench.command("CURR:DC:RANG 0.001");
    QCOMPARE(bench.query("READ?"), QByteArray("+5.00000000E-04"));
    bench.command("CONF:VOLT:DC");
    QCOMPARE(bench.query("READ?"), QByteArray("+2.50250000E+02"));
    QCOMPARE(bench.sim.transcript("board"), QStringList({"value 4", "value -2", "value 500"}));
}

void tst_CoupledBench::seededNoiseIsReproducible()
{
    auto readings = [](const QString &seed) {
        CoupledBench bench({"--noise", "0.001", "--seed", seed});
        QList<double> values;
        if (!bench.ready() || !bench.sendValue(100))
            return values;
        bench.command("CONF:VOLT:DC");
        for (int i = 0; i < 5; ++i)
            values << bench.query("READ?").toDouble();
        return values;
    };
    const QList<double> first = readings("7");
    QCOMPARE(first.size(), 5);
    QCOMPARE(readings("7"), first);
    QVERIFY(readings("8") != first);
    for (double value : first)
        QVERIFY(qAbs(value - 0.1) < 0.01); // within 10 sigma of the output
    QVERIFY(first[0] != first[1]);
}

QTEST_GUILESS_MAIN(tst_CoupledBench)
#include "tst_coupledbench.moc"
