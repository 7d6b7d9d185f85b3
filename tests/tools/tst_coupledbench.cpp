// benchsim with --board: the meter's reading follows the value the board last
// received, in the quantity of the meter's last CONF command.
#include "OutputModel.h"
#include "ValueFrame.h"

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

namespace {

// One benchsim process with the board, and the two links a test talks over.
class CoupledBench
{
public:
    explicit CoupledBench(const QStringList &options)
    {
        process.setProgram(QStringLiteral(BENCHSIM));
        process.setArguments(
            QStringList{"--board", "--dmm", "--transcript", dir.filePath("transcript.txt")} +
            options);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(5000))
            return;
        while (!process.canReadLine() && process.waitForReadyRead(5000)) {
        }
        addressLine = QString::fromUtf8(process.readLine()).trimmed();
        for (const QString &field : addressLine.split(' ')) {
            if (field.startsWith("dmm="))
                meterPort = quint16(field.section("::", 2, 2).toUInt());
            if (field.startsWith("board="))
                board.setPortName(field.mid(6));
        }
        board.open(QIODevice::ReadWrite);
        meter.connectToHost(QStringLiteral("127.0.0.1"), meterPort);
        meter.waitForConnected(3000);
    }

    ~CoupledBench()
    {
        board.close();
        meter.close();
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(3000);
    }

    bool ready() const { return board.isOpen() && meter.state() == QTcpSocket::ConnectedState; }

    void sendValue(qint32 value)
    {
        board.write(ValueFrame::encode(value));
        board.waitForBytesWritten(1000);
        QTest::qWait(30); // the board decodes before the next query arrives
    }

    void command(const QByteArray &line) { meter.write(line + '\n'); }

    QByteArray query(const QByteArray &line)
    {
        command(line);
        while (!meter.canReadLine() && meter.waitForReadyRead(3000)) {
        }
        return meter.readLine().trimmed();
    }

    double read() { return query("READ?").toDouble(); }

    QStringList transcript() const
    {
        QFile file(dir.filePath("transcript.txt"));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QString addressLine;

private:
    QTemporaryDir dir;
    QProcess process;
    QSerialPort board;
    QTcpSocket meter;
    quint16 meterPort = 0;
};

} // namespace

class tst_CoupledBench : public QObject
{
    Q_OBJECT

private slots:
    void outputModel_data();
    void outputModel();
    void readingFollowsTheBoard();
    void confSwitchesTheQuantity();
    void seededNoiseIsReproducible();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
};

void tst_CoupledBench::outputModel_data()
{
    QTest::addColumn<qint64>("code");
    QTest::addColumn<double>("volts");
    QTest::addColumn<double>("amperes");
    // gain 0.001 V, offset 0.01 V, bow 0.004 V over 100 codes, code 50 stuck;
    // sink 2 uA per code from 1 uA.
    QTest::newRow("zero") << qint64(0) << 0.01 << 1e-6;
    QTest::newRow("quarter") << qint64(25) << 0.01 + 0.025 + 0.004 * 0.75 << 51e-6;
    QTest::newRow("stuck code repeats the one below")
        << qint64(50) << 0.01 + 0.049 + 0.004 * 4 * 0.49 * 0.51 << 99e-6;
    QTest::newRow("code after it")
        << qint64(51) << 0.01 + 0.051 + 0.004 * 4 * 0.51 * 0.49 << 103e-6;
    QTest::newRow("bow ends at full scale") << qint64(100) << 0.11 << 201e-6;
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
    CoupledBench bench({"--gain", "0.5", "--offset", "0.25"});
    QVERIFY2(bench.ready(), qPrintable(bench.addressLine));
    QVERIFY(bench.addressLine.contains(" board=/dev/"));

    bench.command("CONF:VOLT:DC");
    QCOMPARE(bench.read(), 0.25); // code 0 before any frame
    bench.sendValue(4);
    QCOMPARE(bench.query("READ?"), QByteArray("+2.25000000E+00"));
    bench.sendValue(-2);
    QCOMPARE(bench.read(), -0.75);
    bench.sendValue(7);
    QCOMPARE(bench.read(), 3.75);

    const QStringList lines = bench.transcript();
    QVERIFY(lines.contains("board value 4"));
    QVERIFY(lines.indexOf("board value -2") > lines.indexOf("board value 4"));
    QVERIFY(lines.contains("dmm CONF:VOLT:DC\\n"));
}

void tst_CoupledBench::confSwitchesTheQuantity()
{
    CoupledBench bench({"--gain", "0.001", "--sink-gain", "1e-6"});
    QVERIFY(bench.ready());
    bench.sendValue(500);
    bench.command("CONF:CURR:DC");
    bench.command("CURR:DC:RANG 0.001");
    QCOMPARE(bench.query("READ?"), QByteArray("+5.00000000E-04"));
    bench.command("CONF:VOLT:DC");
    QCOMPARE(bench.query("READ?"), QByteArray("+5.00000000E-01"));
}

void tst_CoupledBench::seededNoiseIsReproducible()
{
    auto readings = [](const QString &seed) {
        CoupledBench bench({"--noise", "0.001", "--seed", seed});
        QList<double> values;
        if (!bench.ready())
            return values;
        bench.command("CONF:VOLT:DC");
        bench.sendValue(100);
        for (int i = 0; i < 5; ++i)
            values << bench.read();
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

void tst_CoupledBench::badOptionsAreRefused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("gain") << QStringList{"--board", "--gain", "steep"};
    QTest::newRow("full scale") << QStringList{"--board", "--full-scale", "0"};
    QTest::newRow("missing codes") << QStringList{"--board", "--missing-codes", "3,x"};
    QTest::newRow("seed") << QStringList{"--board", "--seed", "-1"};
    QTest::newRow("noise") << QStringList{"--board", "--noise", "-0.1"};
}

void tst_CoupledBench::badOptionsAreRefused()
{
    QFETCH(QStringList, options);
    QProcess process;
    process.start(QStringLiteral(BENCHSIM), options);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(process.readAllStandardError().startsWith("benchsim: "));
}

QTEST_GUILESS_MAIN(tst_CoupledBench)
#include "tst_coupledbench.moc"
