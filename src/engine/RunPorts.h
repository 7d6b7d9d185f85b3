#pragma once

#include <QString>

#include <functional>
#include <memory>

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

// Where a run reaches the world. Every member has the real thing by default;
// tests replace what they fake.
struct RunPorts
{
    std::function<std::unique_ptr<MeterPort>()> meter;
    // Null when the run has no serial port: its values go nowhere, by choice.
    std::function<std::unique_ptr<BoardPort>()> board;
    FileSystemCalls *fileSystem = nullptr; // null: the real system calls

    // The real multimeter driver, and the board on `serial` (none when null).
    static RunPorts real(SerialConfig *serial);
};
