// Every cell holds its own query's reply or ERR, whatever the meter does: the
// run engine with the real multimeter driver over a real socket, against a
// meter that misbehaves at random from a seed. Each cell is held against the
// meter's own log of when it took which query: a value is right only when
// its query reached the meter while the cell's query was under way.
//
// BENCHTEST_HOSTILE_SEED=<n> replays one seed (scripts/soak runs many).
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "tests/support/ContextReset.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/HostileMeter.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <random>

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The real meter port, with the moment each query began and ended.
class TimedMeter final : public MeterPort
{
public:
    struct Call
    {
        std::int64_t beganNs = 0;
        std::int64_t endedNs = 0;
    };

    TimedMeter(std::unique_ptr<MeterPort> real, std::vector<Call> *calls)
        : real(std::move(real)), calls(calls)
    {}
    bool connect(const QString &address) override { return real->connect(address); }
    QString identity() const override { return real->identity(); }
    void write(const QString &command) override { real->write(command); }
    QString query(const QString &command) override
    {
        Call call;
        call.beganNs = nowNs();
        const QString reply = real->query(command);
        call.endedNs = nowNs();
        calls->push_back(call);
        return reply;
    }
    quint64 lastReply() const override { return real->lastReply(); }
    ReplyState replyState(quint64 reply) const override { return real->replyState(reply); }
    void settleLink() override { real->settleLink(); }
    void abort() override { real->abort(); }
    void close() override { real->close(); }

private:
    std::unique_ptr<MeterPort> real;
    std::vector<Call> *calls;
};

QStringList readingCells(const QString &path)
{
    QFile file(path);
    QStringList cells;
    if (!file.open(QIODevice::ReadOnly))
        return cells;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 6; i < lines.size(); ++i) {
        const QStringList row = QString::fromUtf8(lines.at(i)).split(QLatin1Char('\t'));
        if (row.size() >= 2 && !row.first().isEmpty() && row.first().at(0).isDigit())
            cells += row.mid(2);
    }
    return cells;
}

} // namespace

class tst_HostileMeter : public QObject
{
    Q_OBJECT

private slots:
    void everyCellIsItsOwnQuerysReplyOrErr_data();
    void everyCellIsItsOwnQuerysReplyOrErr();
};

void tst_HostileMeter::everyCellIsItsOwnQuerysReplyOrErr_data()
{
    QTest::addColumn<quint64>("seed");
    const QByteArray replay = qgetenv("BENCHTEST_HOSTILE_SEED");
    if (!replay.isEmpty()) {
        QTest::newRow(replay.constData()) << replay.toULongLong();
        return;
    }
    // Small seeds, and seeds the soak found faults with: extra lines behind a
    // reply, then a quiet settle; a duplicate, then the connection closed.
    for (const quint64 seed : {quint64(1), quint64(2), quint64(3), quint64(5), quint64(8),
                               quint64(13), quint64(734809107139612179ULL),
                               quint64(8546929448852098624ULL)})
        QTest::newRow(qPrintable(QString::number(seed))) << seed;
}

void tst_HostileMeter::everyCellIsItsOwnQuerysReplyOrErr()
{
    QFETCH(quint64, seed);
    resetTestContext();
    HostileMeter meter(seed);
    QVERIFY(meter.start());

    // The run's shape is drawn from the seed as well.
    std::mt19937_64 draw(seed ^ 0x5eed);
    const auto pick = [&draw](std::initializer_list<int> choices) {
        return *(choices.begin() + std::uniform_int_distribution<size_t>(0, choices.size() - 1)(draw));
    };
    const int steps = pick({4, 6, 8});
    const int readings = pick({1, 2, 3});
    QTemporaryDir folder;
    FakeBench board;
    std::vector<TimedMeter::Call> calls;
    RunSetup setup;
    setup.parameters = {QString::number(steps), QString::number(pick({0, 5, 30})),
                        QString::number(readings), QString::number(pick({0, 0, 10, 50}))};
    setup.testName = dacTestKind().title;
    setup.testItem = QStringLiteral("HOSTILE");
    setup.tester = QString::number(seed);
    setup.folder = folder.path();
    setup.recoveryFolder = folder.filePath(QStringLiteral("recovery"));
    setup.meterAddress = meter.resource();
    setup.ports = board.ports();
    setup.ports.meter = [&calls] {
        return std::make_unique<TimedMeter>(RunPorts::real(nullptr).meter(), &calls);
    };
    setup.firstSendMs = 0;
    setup.nextStepMs = pick({0, 20, 100});

    LogCapture log;
    RunEngine engine(setup);
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    engine.start();
    QVERIFY(ended.wait(120000));
    engine.stop();
    const RunOutcome outcome = ended.at(0).at(0).value<RunOutcome>();
    const std::vector<HostileMeter::Query> queries = meter.queries();

    const QString replay =
        QStringLiteral("seed %1 (replay: BENCHTEST_HOSTILE_SEED=%1); %2 steps x %3 readings; "
                       "meter: %4; outcome: %5")
            .arg(seed)
            .arg(steps)
            .arg(readings)
            .arg(meter.tally(), outcome.summary());
    const QStringList cells = readingCells(outcome.resultFile);
    QVERIFY2(cells.size() == steps * readings && int(calls.size()) == cells.size(),
             qPrintable(QStringLiteral("%1 cells, %2 queries; %3")
                            .arg(cells.size())
                            .arg(calls.size())
                            .arg(replay)));

    int errCells = 0;
    QStringList violations;
    for (int j = 0; j < cells.size(); ++j) {
        const QString &cell = cells.at(j);
        if (cell == QLatin1String("ERR")) {
            ++errCells;
            continue;
        }
        // The query whose answer the cell holds must have reached the meter
        // while this cell's query was under way.
        const TimedMeter::Call &call = calls.at(size_t(j));
        const TimedMeter::Call &rowEnd = calls.at(size_t((j / readings + 1) * readings - 1));
        bool own = false;
        bool late = false; // a query of this cell's or a later one of its row answered late
        for (const HostileMeter::Query &query : queries) {
            const bool during = query.atNs >= call.beganNs && query.atNs <= call.endedNs;
            const bool holdsIt =
                query.number > 0 &&
                (query.answeredWithIdentity ? cell == QString::fromLatin1(HostileMeter::identity())
                                            : cell == HostileMeter::valueFor(query.number));
            own = own || (holdsIt && during);
            late = late || (query.answeredLate && query.atNs >= call.beganNs &&
                            query.atNs <= rowEnd.endedNs);
        }
        // On a link without message boundaries a line sent unasked, and then an
        // answer after the timeout before the link is seen quiet again (the end
        // of the row), cannot be told from the answers: each reading between
        // them may hold the one before's. The one case the tool does not claim
        // to catch.
        if (!own && !late)
            violations << QStringLiteral("cell %1 of %2 holds %3, not its own query's reply")
                              .arg(j + 1)
                              .arg(cells.size())
                              .arg(cell);
    }
    if (!violations.isEmpty()) // past the capture, which would swallow a qWarning
        std::fprintf(stderr, "the run's log:\n%s\n", qPrintable(log.lines().join('\n')));
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join("; ") + "; " + replay));
    QVERIFY2(outcome.errCells == errCells, qPrintable(replay));
    QVERIFY2(outcome.isClean() == (errCells == 0 && outcome.notMeasurements == 0),
             qPrintable(replay));
}

QTEST_GUILESS_MAIN(tst_HostileMeter)
#include "tst_hostilemeter.moc"
