// The step machine's conversions: parameter texts, reading cells and waits.
#include "engine/RunEngine.h"

#include <QTest>

#include <limits>

class tst_StepMachine : public QObject
{
    Q_OBJECT

private slots:
    void parameter_data();
    void parameter();
    void timerInterval_data();
    void timerInterval();
};

void tst_StepMachine::parameter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    QTest::newRow("negative") << "-3" << qint64(-3);
    QTest::newRow("plus sign") << "+5" << qint64(5);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("words") << "ten" << qint64(0);
    QTest::newRow("hex is not decimal") << "0x10" << qint64(0);
    QTest::newRow("trailing garbage") << "12ms" << qint64(0);
    QTest::newRow("beyond 32 bits") << "4294967296" << qint64(4294967296LL);
    QTest::newRow("int64 max") << "9223372036854775807" << std::numeric_limits<qint64>::max();
    QTest::newRow("int64 min") << "-9223372036854775808" << std::numeric_limits<qint64>::min();
    QTest::newRow("beyond 64 bits") << "9223372036854775808" << qint64(0);
}

void tst_StepMachine::parameter()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);
    QCOMPARE(RunEngine::parameter(text), value);
}

void tst_StepMachine::timerInterval_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("interval");
    QTest::newRow("ordinary") << qint64(100) << 100;
    QTest::newRow("negative runs at once") << qint64(-5) << 0;
    QTest::newRow("int64 min") << std::numeric_limits<qint64>::min() << 0;
    QTest::newRow("beyond 32 bits is clamped")
        << qint64(4294967296LL) << std::numeric_limits<int>::max();
    QTest::newRow("int64 max is clamped")
        << std::numeric_limits<qint64>::max() << std::numeric_limits<int>::max();
}

void tst_StepMachine::timerInterval()
{
    QFETCH(qint64, ms);
    QFETCH(int, interval);
    QCOMPARE(RunEngine::timerInterval(ms), interval);
}

QTEST_GUILESS_MAIN(tst_StepMachine)
#include "tst_stepmachine.moc"
