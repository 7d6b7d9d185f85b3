// The codes a sweep plan sends: ranges and lists as written, direction,
// passes, the shuffle that replays from its seed, and what is refused.
#include "plan/Shuffle.h"
#include "plan/SweepPlan.h"
#include "tests/support/TestSeed.h"

#include <QJsonDocument>
#include <QTest>

Q_DECLARE_METATYPE(SweepPlan::Definition)

namespace {

using Direction = SweepPlan::Direction;

SweepPlan::Definition sweep(const QString &codes, Direction direction = Direction::Up,
                            qint64 repeat = 1, quint64 shuffleSeed = 0)
{
    SweepPlan::Definition definition;
    definition.codes = codes;
    definition.direction = direction;
    definition.repeat = repeat;
    definition.order = shuffleSeed ? SweepPlan::Order::Shuffled : SweepPlan::Order::Sequential;
    definition.seed = shuffleSeed;
    return definition;
}

QVector<qint32> codesOf(const SweepPlan::Definition &definition)
{
    SweepPlan plan;
    QString error;
    if (!SweepPlan::build(definition, &plan, &error))
        qWarning("refused: %s", qPrintable(error));
    return plan.codes();
}

} // namespace

class tst_SweepPlan : public QObject
{
    Q_OBJECT

private slots:
    void expands_data();
    void expands();
    void refuses_data();
    void refuses();
    void shuffleReplaysTheReference();
    void lazyCodesAreTheListWrittenOut_randomized();
    void jsonRoundTrip();
};

void tst_SweepPlan::expands_data()
{
    QTest::addColumn<SweepPlan::Definition>("definition");
    QTest::addColumn<QVector<qint32>>("expected");

    QTest::newRow("no step, spaces, signs")
        << sweep(" -2 : +1 , 7 ") << QVector<qint32>{-2, -1, 0, 1, 7};
    QTest::newRow("32-bit limits")
        << sweep("2147483647,-2147483648")
        << QVector<qint32>{2147483647, std::numeric_limits<qint32>::min()};
    // The turning code is measured once.
    QTest::newRow("updown") << sweep("0:3", Direction::UpDown)
                            << QVector<qint32>{0, 1, 2, 3, 2, 1, 0};
    SweepPlan::Definition counting = sweep(QString(), Direction::Down);
    counting.steps = 4;
    QTest::newRow("the counting sweep, down") << counting << QVector<qint32>{4, 3, 2, 1};
}

void tst_SweepPlan::expands()
{
    QFETCH(SweepPlan::Definition, definition);
    QFETCH(QVector<qint32>, expected);
    QCOMPARE(codesOf(definition), expected);
    // Only the built-in tests' own sweep counts as counting.
    SweepPlan plan;
    QVERIFY(SweepPlan::build(definition, &plan, nullptr));
    QVERIFY(!plan.isCounting());
    QVERIFY(SweepPlan().isCounting() && SweepPlan().codes() == codesOf(sweep("1:10")));
}

void tst_SweepPlan::refuses_data()
{
    QTest::addColumn<SweepPlan::Definition>("definition");
    QTest::addColumn<QString>("message");

    QTest::newRow("zero step") << sweep("0:4095:0") << "'0:4095:0': the step must be 1 or more";
    QTest::newRow("beyond 32 bits")
        << sweep("0,2147483648") << "'2147483648' does not fit a 32-bit code";
    QTest::newRow("empty item") << sweep("1,,2") << "'1,,2' has an empty item";
    QTest::newRow("four parts") << sweep("1:2:3:4") << "'1:2:3:4' is not a code or a range";
    QTest::newRow("hex") << sweep("0x10") << "'0x10' is not a code";
    QTest::newRow("one range beyond the limit")
        << sweep("-2147483648:2147483647") << "holds more than 10000000 codes";
    QTest::newRow("passes beyond the limit")
        << sweep("0:65535", Direction::UpDown, 100)
        << "the codes '0:65535' make 13107100 steps (131071 a pass, 100 passes), more than the "
           "10000000";
    QTest::newRow("shuffled with a direction")
        << sweep("1:5", Direction::Down, 1, 7) << "a shuffled order has no direction, not down";
}

void tst_SweepPlan::refuses()
{
    QFETCH(SweepPlan::Definition, definition);
    QFETCH(QString, message);
    SweepPlan plan = SweepPlan::counting(3);
    QString error;
    QVERIFY(!SweepPlan::build(definition, &plan, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(plan.count(), 3); // left as it was
}

// SplitMix64's published first outputs for seed 0; the rest from an
// independent implementation (docs/plan.md's Python).
void tst_SweepPlan::shuffleReplaysTheReference()
{
    SplitMix64 zero(0);
    QCOMPARE(zero.next(), 0xe220a8397b1dcdafULL);
    QCOMPARE(zero.next(), 0x6e789e6aa1b965f4ULL);
    // Bound 2^63 + 1 throws back nearly half the outputs, seed 5's first one among them.
    SplitMix64 five(5);
    QCOMPARE(five.below((quint64(1) << 63) + 1), 4654242949169100535ULL);

    QCOMPARE(codesOf(sweep("0:9", Direction::Up, 2, 42)),
             (QVector<qint32>{0, 9, 5, 8, 6, 4, 7, 2, 1, 3, 0, 9, 3, 2, 5, 7, 1, 6, 8, 4}));
    QCOMPARE(codesOf(sweep("0:256:64,4095", Direction::Up, 1, 7)),
             (QVector<qint32>{64, 4095, 0, 128, 256, 192}));
}

// Invariant: the plan's codes, worked out one by one, are the list written
// out by hand and run through its direction and passes; a shuffled pass
// holds the same codes, and the same seed draws the same order.
void tst_SweepPlan::lazyCodesAreTheListWrittenOut_randomized()
{
    QRandomGenerator random(testSeed(Q_FUNC_INFO));
    for (int round = 0; round < 300; ++round) {
        QStringList items;
        QVector<qint32> list;
        for (int i = random.bounded(1, 6); i > 0; --i) {
            const int first = random.bounded(-1000, 1000);
            const int stop = random.bounded(-1000, 1000);
            const int step = random.bounded(1, 300);
            items << QStringLiteral("%1:%2:%3").arg(first).arg(stop).arg(step);
            for (int code = first; first <= stop ? code <= stop : code >= stop;
                 code += first <= stop ? step : -step)
                list << code;
        }
        const auto direction = Direction(random.bounded(3));
        const qint64 repeat = random.bounded(1, 4);
        QVector<qint32> pass = list;
        if (direction == Direction::Down)
            std::reverse(pass.begin(), pass.end());
        for (qsizetype i = list.size() - 2; direction == Direction::UpDown && i >= 0; --i)
            pass << list.at(i);
        QVector<qint32> expected;
        for (qint64 i = 0; i < repeat; ++i)
            expected += pass;
        SweepPlan plan;
        QVERIFY(SweepPlan::build(sweep(items.join(','), direction, repeat), &plan, nullptr));
        QVector<qint32> walked;
        for (qint32 code : plan)
            walked << code;
        QVERIFY2(walked == expected, qPrintable(items.join(',')));

        const quint64 seed = random.generate64() | 1;
        const QVector<qint32> shuffled =
            codesOf(sweep(items.join(','), Direction::Up, repeat, seed));
        std::sort(list.begin(), list.end());
        for (qint64 i = 0; i < repeat; ++i) {
            QVector<qint32> drawn = shuffled.mid(i * list.size(), list.size());
            std::sort(drawn.begin(), drawn.end());
            QVERIFY2(drawn == list, qPrintable(items.join(',')));
        }
        QCOMPARE(codesOf(sweep(items.join(','), Direction::Up, repeat, seed)), shuffled);
    }
}

void tst_SweepPlan::jsonRoundTrip()
{
    SweepPlan shuffled;
    // A seed beyond a double's 53 bits.
    QVERIFY(SweepPlan::build(sweep("0:4095:64,4095", Direction::Up, 3, ~0ULL), &shuffled, nullptr));
    SweepPlan counting;
    SweepPlan::Definition seven = sweep(QString(), Direction::UpDown);
    seven.steps = 7;
    QVERIFY(SweepPlan::build(seven, &counting, nullptr));
    for (const SweepPlan &plan : {shuffled, counting}) {
        const QJsonObject json =
            QJsonDocument::fromJson(QJsonDocument(plan.toJson()).toJson()).object();
        SweepPlan read;
        QString error;
        QVERIFY2(SweepPlan::fromJson(json, &read, &error), qPrintable(error));
        QVERIFY(read.definition() == plan.definition() && read.codes() == plan.codes());
    }
    // A record whose count disagrees with its codes is not taken.
    QJsonObject tampered = shuffled.toJson();
    tampered.insert("steps", 5);
    QString error;
    QVERIFY(!SweepPlan::fromJson(tampered, &shuffled, &error));
}

QTEST_APPLESS_MAIN(tst_SweepPlan)
#include "tst_sweepplan.moc"
