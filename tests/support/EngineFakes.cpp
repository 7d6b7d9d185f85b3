#include "tests/support/EngineFakes.h"

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
    void write(const QString &command) override { state->commands.append(command); }
    QString query(const QString &command) override
    {
        look();
        state->commands.append(command);
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
        const bool stray = state->strayAfterReply.contains(replyNumber) && replyNumber > resolvedUpTo;
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
        if (state->valuesLost.contains(value))
            return false;
        state->valuesSent.append(value);
        return true;
    }
    void close() override { state->boardCloses += 1; }
    QString device() const override { return QStringLiteral("fakeboard"); }

private:
    std::shared_ptr<FakeBench::State> state;
};

} // namespace

FakeBench::FakeBench() : shared(std::make_shared<State>()) {}

RunPorts FakeBench::ports(FileSystemCalls *fileSystem, bool withBoard) const
{
    RunPorts ports;
    const std::shared_ptr<State> state = shared;
    ports.meter = [state] {
        return std::make_unique<FakeMeter>(state);
    };
    if (withBoard)
        ports.board = [state] {
            return std::make_unique<FakeBoard>(state);
        };
    ports.fileSystem = fileSystem;
    return ports;
}
