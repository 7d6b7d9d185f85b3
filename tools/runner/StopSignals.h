#pragma once

#include <QObject>

class QSocketNotifier;

// Delivers SIGINT and SIGTERM through the event loop. The handler only writes
// the signal number into a pipe; everything else runs in `received`, on the
// main thread. One instance per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *notifier = nullptr;
};
