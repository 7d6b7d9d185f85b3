#pragma once

#include "instruments/visa/visa.h"

#include <QElapsedTimer>

#include <atomic>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

// Driver of the bench digital multimeter. Reads its resource string from
// TestContext.dmm.address and keeps TestContext.dmm.connected up to date;
// every I/O call does nothing while that flag is false.
class DMM_34461A : public QObject
{
    Q_OBJECT

public:
    DMM_34461A();
    ~DMM_34461A() override;

    // Opens the session and checks that the meter answers "*IDN?".
    bool Connect();
    void Write(QString command);
    QString Read();
    QString Query(QString command);
    QString GetIDN();
    QString GetDVMVolt();
    bool Close();
    // The meter's answer to *IDN? at the last Connect, as it came.
    QString identityReply() const { return identity; }
    // Why the last Connect failed: "cannot be opened (<status>)" or "does not
    // answer *IDN?"; empty when it did not.
    QString connectFailure() const { return failure; }
    // Bounds opening and every exchange to `ms` from here on, for checks that
    // must end in time; 0 gives back the 2 s to open and the session's timeout.
    void limitExchanges(ViUInt32 ms);

    // Whether a reply is its own query's answer. On a link with message
    // boundaries of its own (VXI-11, HiSLIP, USBTMC, GPIB) the protocol pairs
    // them, and every reply is Confirmed at once. On a raw socket or a serial
    // line nothing does: a line the meter sends unasked while a query waits
    // would pass for its answer, and the true answer then arrives later. So a
    // reply stays Open until the link has been seen quiet long enough after
    // the last query that such a late answer would have shown (1.5 times the
    // slowest answer of this session plus kQuietMs, at least
    // kMinConfirmingAgeMs, at most the I/O timeout): it is Confirmed then. Anything found on the
    // link meanwhile is a stray: every Open reply is Disowned and the link is brought back in step
    // before the next command.
    enum class ReplyState
    {
        Open,
        Confirmed,
        Disowned
    };
    // Replies returned by Read and Query, counted from 1 (0: none).
    quint64 lastReplyNumber() const { return repliesRead; }
    ReplyState replyState(quint64 number) const;
    // Looks at the link without a word to the meter and without waiting.
    // False for a stray. Every Query looks first.
    bool CheckLink();
    // Waits until every Open reply can be told Confirmed or Disowned (and
    // kQuietMs since the last reply, so that a burst of lines is seen whole),
    // then looks. For the end of a row, of a run, or a stop.
    bool SettleLink();
    // Ends at once, from any thread, whatever waits for the meter: the call in
    // progress returns (VISA's viTerminate) and no further query,
    // resynchronisation or reconnection is tried. For a run being stopped;
    // Close still works afterwards.
    void Abort();
    static constexpr int kQuietMs = 20;
    static constexpr int kMinConfirmingAgeMs = 100;

private:
    QString readReply();
    [[nodiscard]] bool sendBytes(const char *bytes, ViUInt32 count);
    [[nodiscard]] bool bringBackInStep();
    [[nodiscard]] bool reconnect();
    bool extraReplyWaiting();
    QByteArray takeWhatArrived();
    void dropGreeting();

    ViSession defaultRM = VI_NULL;
    ViSession vi = VI_NULL;
    std::atomic<ViSession> abortable{VI_NULL}; // vi, for Abort from another thread
    std::atomic<bool> aborting{false};
    // A reply may still be on its way, or one came with more than was asked
    // for: the next reply read could belong to an earlier query.
    bool outOfStep = false;
    // Reads on this link address nobody (a raw socket, a serial line), so
    // looking for bytes that came with a reply cannot disturb the meter.
    bool passiveReads = false;
    QString identity; // the *IDN? reply, the marker that ends a resynchronisation
    // The connection dropped: it is opened again before the next command.
    bool connectionLost = false;
    QList<QByteArray> setupSent; // commands written since Connect, sent again on reconnecting
    bool look(bool settle);
    qint64 confirmingAgeMs() const;
    void disownOpenReplies();
    void loseStep();
    void loseConnection();

    quint64 repliesRead = 0;
    quint64 resolvedUpTo = 0;  // every reply up to here is Confirmed or Disowned
    QSet<quint64> disowned;    // of those, the Disowned ones
    QElapsedTimer sinceReply;  // since the last reply was read
    QElapsedTimer sinceQuery;  // since the last query was written
    qint64 slowestReplyMs = 0; // the longest a reply took in this session
    ViUInt32 timeoutMs = 2000;
    ViUInt32 sessionTimeoutMs = 2000; // the session's own, before any limit
    ViUInt32 exchangeLimitMs = 0;     // 0: none
    QString failure;
};
