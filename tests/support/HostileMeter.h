#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

// How often a HostileMeter misbehaves.
struct HostileMeterOdds
{
    double strayBefore = 0.05; // a stray line, then the reply
    double strayAfter = 0.05;  // the reply, then a stray line soon after
    double split = 0.15;       // the reply in two or three packets
    double late = 0.02;        // the reply after the I/O timeout
    double duplicate = 0.04;   // the reply twice
    double identity = 0.02;    // the identity instead of a reading
    double close = 0.02;       // the connection closed instead of a reply
    double idleStrayPerSecond = 0.5;
    int replyDelayMaxMs = 25;
    int timeoutMs = 2000; // the client's I/O timeout, for "late"
};


// A multimeter on a raw TCP socket of 127.0.0.1 that misbehaves at random,
// all of it drawn from one seed: it sends lines nobody asked for (before,
// between and after replies), splits replies across packets, answers after
// the I/O timeout, sends a reply twice, answers a reading with its identity,
// and closes the connection (and takes the next). Every Read? gets a value
// of its own, so a cell tells which query's answer it holds; the meter keeps
// a log of when it took each query, which a test holds the file against.
// It runs on a thread of its own.
class HostileMeter
{
public:
    struct Query
    {
        std::int64_t atNs = 0; // steady clock, when the whole line was in
        int number = 0;        // of the Read? queries, from 1; 0 for other commands
        QByteArray command;
        bool answeredWithIdentity = false;
        // The reply came after the client's I/O timeout: a line that turns
        // up meanwhile cannot be told from it.
        bool answeredLate = false;
    };

    using Odds = HostileMeterOdds;

    explicit HostileMeter(std::uint64_t seed, Odds odds = Odds());
    ~HostileMeter();
    HostileMeter(const HostileMeter &) = delete;
    HostileMeter &operator=(const HostileMeter &) = delete;

    bool start();
    QString resource() const;
    static QByteArray identity() { return "HOSTILE,DMM,0,1.0"; }
    // The value the meter answers its n-th Read? with, as the file keeps it.
    static QString valueFor(int number);

    std::vector<Query> queries() const;
    // How often each behaviour was played, for a test's messages.
    QString tally() const;

private:
    struct Pending
    {
        std::int64_t dueNs = 0;
        QByteArray bytes;
        bool closeAfter = false;
        int connection = 0;
    };

    void run();
    void accept();
    void closeClient();
    void handleLine(const QByteArray &line, std::int64_t nowNs);
    void schedule(std::int64_t dueNs, const QByteArray &bytes, bool closeAfter = false);
    void sendDue(std::int64_t nowNs);
    QByteArray strayLine();
    bool chance(double odds);
    int between(int low, int high);

    Odds odds;
    std::mt19937_64 random;
    int listenFd = -1;
    int clientFd = -1;
    int connection = 0;
    quint16 listenPort = 0;
    QByteArray input;
    std::vector<Pending> pending;
    std::int64_t nextIdleStrayNs = 0;
    int reads = 0;
    int strays = 0;
    int counts[8] = {};
    std::thread worker;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::vector<Query> log;
};
