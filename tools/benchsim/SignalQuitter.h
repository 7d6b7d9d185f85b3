#pragma once

#include <QObject>

class QSocketNotifier;

// Quits the application on SIGTERM or SIGINT. The handler only writes a
// byte to a pipe; the quitting happens in the event loop.
class SignalQuitter : public QObject
{
    Q_OBJECT

public:
    explicit SignalQuitter(QObject *parent = nullptr);
    ~SignalQuitter() override;

private:
    static void onSignal(int signal);

    QSocketNotifier *notifier = nullptr;
};
