// StepStatistics taken along by a copy or a move: each one gathers on its own, whatever
// happens to the one it came from (which used to leave the copy an iterator into its map).
#include "report/StepStatistics.h"

#include <QtTest>

#include <memory>

namespace {

void addRow(StepStatistics &statistics, qint64 code, const QList<QByteArray> &cells)
{
    ResultRow row;
    row.code = code;
    for (const QByteArray &cell : cells)
        row.readings.push_back(cell);
    statistics.add(row);
}

// Valid readings per code, in code order: "code:count".
QStringList counts(const StepStatistics &statistics)
{
    QStringList texts;
    for (const StepStats &step : statistics.steps())
        texts.append(QStringLiteral("%1:%2").arg(step.code).arg(step.count));
    return texts;
}

enum class Taking
{
    CopyConstruct,
    CopyAssign,
    MoveConstruct,
    MoveAssign,
};

// Takes `from` into a new object the way `taking` says; `from` may be left empty by a move.
std::unique_ptr<StepStatistics> take(StepStatistics &from, Taking taking)
{
    switch (taking) {
    case Taking::CopyConstruct:
        return std::make_unique<StepStatistics>(from);
    case Taking::MoveConstruct:
        return std::make_unique<StepStatistics>(std::move(from));
    case Taking::CopyAssign: {
        auto to = std::make_unique<StepStatistics>();
        addRow(*to, 99, {"1"}); // replaced: its own last code must not survive either
        *to = from;
        return to;
    }
    case Taking::MoveAssign: {
        auto to = std::make_unique<StepStatistics>();
        addRow(*to, 99, {"1"});
        *to = std::move(from);
        return to;
    }
    }
    return nullptr;
}

} // namespace

class tst_StepStatistics : public QObject
{
    Q_OBJECT

private slots:
    void takenOneGathersAlone_data();
    void takenOneGathersAlone();
};

void tst_StepStatistics::takenOneGathersAlone_data()
{
    QTest::addColumn<Taking>("taking");
    QTest::addColumn<bool>("dropOriginal");
    QTest::newRow("copy, original kept") << Taking::CopyConstruct << false;
    QTest::newRow("copy, original gone") << Taking::CopyConstruct << true;
    QTest::newRow("copy assigned, original kept") << Taking::CopyAssign << false;
    QTest::newRow("copy assigned, original gone") << Taking::CopyAssign << true;
    QTest::newRow("moved, original gone") << Taking::MoveConstruct << true;
    QTest::newRow("move assigned, original gone") << Taking::MoveAssign << true;
}

// The taken one goes on at the code its original used last, at the next code and at a new
// one; the original, while it lives, keeps only what it had and gathers on its own.
void tst_StepStatistics::takenOneGathersAlone()
{
    QFETCH(Taking, taking);
    QFETCH(bool, dropOriginal);
    auto original = std::make_unique<StepStatistics>();
    for (qint64 code = 1; code <= 3; ++code)
        addRow(*original, code, {"0.5", "0.6"});
    addRow(*original, 2, {"0.7"}); // the last code used is now 2, with 3 after it

    std::unique_ptr<StepStatistics> taken = take(*original, taking);
    const bool moved = taking == Taking::MoveConstruct || taking == Taking::MoveAssign;
    if (dropOriginal)
        original.reset();
    addRow(*taken, 2, {"0.8"});
    addRow(*taken, 3, {"0.9", "ERR"});
    addRow(*taken, 7, {"1.0"});
    QCOMPARE(counts(*taken), QStringList({"1:2", "2:4", "3:3", "7:1"}));
    QCOMPARE(taken->steps().at(2).errCount, 1);

    if (!original)
        return;
    QVERIFY(!moved);
    QCOMPARE(counts(*original), QStringList({"1:2", "2:3", "3:2"}));
    addRow(*original, 2, {"0.1"});
    QCOMPARE(counts(*original), QStringList({"1:2", "2:4", "3:2"}));
    QCOMPARE(counts(*taken), QStringList({"1:2", "2:4", "3:3", "7:1"}));
}

QTEST_GUILESS_MAIN(tst_StepStatistics)
#include "tst_stepstatistics.moc"
