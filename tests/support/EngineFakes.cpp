#include "tests/support/EngineFakes.h"

#include "engine/RunEngine.h"

#include <QDir>
#include <QSignalSpy>

namespace {

class FakeMeter final : public MeterPort
{
public:
    explicit FakeMeter(std::shared_ptr<FakeBench::State> state) : state(std::move(state)) {}

    bool connect(const QString &) override
    {
        connected = state->meterAnswers;
        return connected;
    }
    QString identity() const override { return connected ? state->identity : QString(); }
    void write(const QString &command) override
    {
        state->commands.append(command);
        state->timeline.append(QStringLiteral("meter ") + command);
    }
    QString query(const QString &command) override
    {
        look();
        state->commands.append(command);
        state->timeline.append(QStringLiteral("meter ") + command);
        if (!connected)
            return QString();
        state->queries += 1;
        const QString reply = state->reply(state->queries);
        if (!reply.trimmed().isEmpty())
            replyNumber = state->queries;
        return reply;
    }
    quint64 lastReply() const override { return quint64(replyNumber); }
    ReplyState replyState(quint64 reply) const override
    {
        if (reply == 0 || disowned.contains(qint64(reply)))
            return ReplyState::Disowned;
        return qint64(reply) <= resolvedUpTo ? ReplyState::Confirmed : ReplyState::Open;
    }
    void settleLink() override { look(); }
    void abort() override { state->aborts += 1; }
    void close() override { state->meterCloses += 1; }

private:
    // A look finds the stray that follows a reply, if the script has one:
    // every reply not yet confirmed is then disowned; else all are confirmed.
    void look()
    {
        const bool stray =
            state->strayAfterReply.contains(replyNumber) && replyNumber > resolvedUpTo;
        for (qint64 number = resolvedUpTo + 1; stray && number <= replyNumber; ++number)
            disowned.insert(number);
        resolvedUpTo = replyNumber;
    }

    std::shared_ptr<FakeBench::State> state;
    bool connected = false;
    qint64 replyNumber = 0;
    qint64 resolvedUpTo = 0;
    QSet<qint64> disowned;
};

class FakeBoard final : public BoardPort
{
public:
    explicit FakeBoard(std::shared_ptr<FakeBench::State> state) : state(std::move(state)) {}

    bool open(QString *error) override
    {
        if (!state->boardOpens)
            *error = QStringLiteral("cannot open serial port fake: refused");
        return state->boardOpens;
    }
    bool send(qint32 value) override
    {
        state->valuesSent.append(value);
        state->timeline.append(QStringLiteral("board %1").arg(value));
        return true;
    }
    void close() override {}
    QString device() const override { return QStringLiteral("fakeboard"); }

private:
    std::shared_ptr<FakeBench::State> state;
};

class FakeSupply final : public SupplyPort
{
public:
    explicit FakeSupply(std::shared_ptr<FakeBench::State> state) : state(std::move(state)) {}
    ~FakeSupply() override { tell(QStringLiteral("gone")); }

    void limitExchanges(int) override {}
    bool connect(const QString &resource, QString *) override
    {
        tell(QStringLiteral("connect ") + resource);
        return true;
    }
    QString identity() const override { return state->supplyIdentity; }
    bool setLevels(int channel, double volts, double amperes) override
    {
        tell(QStringLiteral("levels %1 %2 %3").arg(channel).arg(volts).arg(amperes));
        queue = state->supplyErrors;
        return true;
    }
    QString nextError() override
    {
        tell(QStringLiteral("SYST:ERR?"));
        return queue.isEmpty() ? QStringLiteral("+0,\"No error\"\n") : queue.takeFirst();
    }
    bool setOutput(int channel, bool on) override
    {
        tell(QStringLiteral("output %1 %2").arg(channel).arg(on ? "on" : "off"));
        if (on || state->outputSwitchesOff)
            state->outputOn = on;
        return true;
    }
    std::optional<bool> isOutputOn(int channel) override
    {
        tell(QStringLiteral("output? %1").arg(channel));
        return state->outputOn;
    }
    QString measureCurrent(int channel) override
    {
        tell(QStringLiteral("measure %1").arg(channel));
        state->measurements += 1;
        return state->supplyCurrent(state->measurements);
    }
    bool lastReplyStands() override
    {
        return !state->strayAfterMeasurement.contains(state->measurements);
    }
    void close() override
    {
        tell(QStringLiteral("close"));
        state->supplyCloses += 1;
    }

private:
    void tell(const QString &what) { state->timeline.append(QStringLiteral("supply ") + what); }

    std::shared_ptr<FakeBench::State> state;
    QStringList queue;
};

} // namespace

FakeBench::FakeBench() : shared(std::make_shared<State>()) {}

RunPorts FakeBench::ports(FileSystemCalls *fileSystem) const
{
    RunPorts ports;
    const std::shared_ptr<State> state = shared;
    ports.meter = [state] {
        return std::make_unique<FakeMeter>(state);
    };
    ports.board = [state] {
        return std::make_unique<FakeBoard>(state);
    };
    ports.supply = [state] {
        return std::make_unique<FakeSupply>(state);
    };
    ports.fileSystem = fileSystem;
    return ports;
}

QStringList FakeBench::supplyLines() const
{
    QStringList lines;
    for (const QString &line : shared->timeline) {
        if (line.startsWith(QLatin1String("supply ")))
            lines << line.mid(7);
    }
    return lines;
}

RunSetup fakeBenchRun(const FakeBench &bench, const QString &folder, FileSystemCalls *fileSystem)
{
    RunSetup run;
    run.parameters = {"3", "0", "2", "0"};
    run.testName = dacTestKind().title;
    run.testItem = QStringLiteral("ITEM");
    run.tester = QStringLiteral("QA");
    run.folder = folder + QStringLiteral("/results");
    QDir().mkpath(run.folder);
    run.recoveryFolder = folder + QStringLiteral("/recovery");
    run.meterAddress = QStringLiteral("FAKE::INSTR");
    run.ports = bench.ports(fileSystem);
    run.firstSendMs = 0;
    run.nextStepMs = 0;
    run.clock.localTime = [] {
        return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    };
    return run;
}

RunOutcome runToEnd(RunEngine &engine)
{
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    engine.start();
    if (ended.isEmpty() && !ended.wait(5000))
        return RunOutcome();
    engine.stop();
    return ended.at(0).at(0).value<RunOutcome>();
}
