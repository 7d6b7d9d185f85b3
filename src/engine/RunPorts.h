#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class FileSystemCalls;
struct SerialConfig;

// What a run needs of its multimeter. The real one drives DMM_34461A over
// VISA; tests put a fake of their own in its place.
class MeterPort
{
public:
    virtual ~MeterPort();
    // Opens the meter and asks its identity: false when it does not answer.
    virtual bool connect(const QString &address) = 0;
    // The identity it answered, as it came; empty when it did not.
    [[nodiscard]] virtual QString identity() const = 0;
    virtual void write(const QString &command) = 0;
    // The reply, as it came; empty when there was none.
    virtual QString query(const QString &command) = 0;
    // Whether a reply is its own query's answer: Confirmed, or Disowned when
    // something the meter sent unasked casts doubt on it, or still Open
    // until the link has been looked at long enough after it.
    enum class ReplyState
    {
        Open,
        Confirmed,
        Disowned
    };
    // The reply query() returned last, by number (0: none), and its state.
    [[nodiscard]] virtual quint64 lastReply() const = 0;
    [[nodiscard]] virtual ReplyState replyState(quint64 reply) const = 0;
    // Looks at the link without a word to the meter, waiting as long as it
    // takes to tell every Open reply Confirmed or Disowned.
    virtual void settleLink() = 0;
    // From any thread: whatever waits for the meter returns at once, and no
    // further query is tried. The run is being stopped.
    virtual void abort() = 0;
    virtual void close() = 0;
    // Bounds opening and every exchange to `ms` from here on, for checks that
    // must end in time; 0 gives the driver's own timeouts back.
    virtual void limitExchanges(int) {}
    // Why connect() failed, as the end of a sentence about the meter ("cannot
    // be opened (VI_ERROR_RSRC_NFOUND)", "does not answer *IDN?"); empty when
    // it did not fail or cannot tell.
    [[nodiscard]] virtual QString connectFailure() const { return QString(); }
};

// What a run needs of the board's serial link.
class BoardPort
{
public:
    virtual ~BoardPort();
    // Opens the link: false with the reason when it cannot be opened.
    virtual bool open(QString *error) = 0;
    // Sends one value: false when it did not go out.
    virtual bool send(qint32 value) = 0;
    virtual void close() = 0;
    // The device the values go to, for the record; empty when none.
    [[nodiscard]] virtual QString device() const = 0;
};

// What a run needs of the bench supply that powers the board. The real one
// drives PWR_66309D over VISA; tests put a fake in its place. Outputs are
// numbered from 1.
class SupplyPort
{
public:
    virtual ~SupplyPort();
    // As MeterPort::limitExchanges().
    virtual void limitExchanges(int ms) = 0;
    // Opens the supply and asks its identity, touching no output: false with
    // the reason, as the end of a sentence about the supply, when it cannot
    // be opened or does not answer.
    virtual bool connect(const QString &resource, QString *error) = 0;
    // The identity it answered, without its line end.
    [[nodiscard]] virtual QString identity() const = 0;
    // Sets an output's voltage (V) and current limit (A): false when a
    // command did not go out. Whether the supply took them, its error queue says.
    virtual bool setLevels(int channel, double volts, double amperes) = 0;
    // The next entry of the supply's error queue (SYST:ERR?) as it came;
    // empty when no reply came.
    virtual QString nextError() = 0;
    // Switches an output on or off: false when the command did not go out.
    virtual bool setOutput(int channel, bool on) = 0;
    // Whether the output is on, as the supply says; none when it does not say.
    virtual std::optional<bool> isOutputOn(int channel) = 0;
    // The output's current as the supply measures it, the reply as it came;
    // empty when none came.
    virtual QString measureCurrent(int channel) = 0;
    // Whether the reply measureCurrent() returned last still stands: false
    // once a line nobody asked for has shown on the link since.
    virtual bool lastReplyStands() = 0;
    virtual void close() = 0;
};

// Where a run reaches the world. Every member has the real thing by default;
// tests replace what they fake.
struct RunPorts
{
    std::function<std::unique_ptr<MeterPort>()> meter;
    // Null when the run has no serial port: its values go nowhere, by choice.
    std::function<std::unique_ptr<BoardPort>()> board;
    // The supply, for a run that powers its board.
    std::function<std::unique_ptr<SupplyPort>()> supply;
    FileSystemCalls *fileSystem = nullptr; // null: the real system calls

    // The real multimeter and supply drivers, and the board on `serial`
    // (none when null).
    static RunPorts real(SerialConfig *serial);
};
