#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A TCP peer on 127.0.0.1 that plays a fixed script to the first client:
// send these bytes, pause, close. It runs on a thread of its own, so a test
// can make blocking VISA calls against it, and records what it received.
class ScriptedPeer
{
public:
    ScriptedPeer();
    ~ScriptedPeer();

    ScriptedPeer &send(const QByteArray &bytes);
    ScriptedPeer &pause(int ms);
    // Waits (up to 20 s) until the client has sent this many bytes in all.
    ScriptedPeer &awaitBytes(int total);
    // Waits (up to 20 s) until the client has sent `text` `count` times in all.
    ScriptedPeer &awaitText(const QByteArray &text, int count = 1);
    ScriptedPeer &close();
    // Runs the script once a client connects.
    void start();

    // How many steps of the script have been played so far.
    int stepsPlayed() const { return played; }
    quint16 port() const { return listenPort; }
    QString socketResource() const;
    QByteArray received() const;

private:
    struct Step
    {
        enum Kind
        {
            Send,
            Pause,
            Await,
            AwaitText,
            Close
        } kind;
        QByteArray bytes;
        int value = 0;
    };

    void run();
    void drain(int timeoutMs);

    int listenFd = -1;
    int clientFd = -1;
    bool clientGone = false;
    quint16 listenPort = 0;
    std::vector<Step> steps;
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::atomic<int> played{0};
    mutable std::mutex receivedMutex;
    QByteArray receivedBytes;
};
