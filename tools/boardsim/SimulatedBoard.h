#pragma once

#include "tools/boardsim/FrameDecoder.h"
#include "tools/boardsim/PseudoTerminal.h"

#include <QObject>
#include <QTimer>

#include <optional>

class QSocketNotifier;

// The board under test as the application sees it: a serial device that takes
// value frames. It keeps the last good value (what its output would now be)
// and counts good and bad frames.
class SimulatedBoard : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedBoard(QObject *parent = nullptr);
    ~SimulatedBoard() override;

    // Creates the device; false with a reason in `error` when that fails.
    bool start(QString *error = nullptr);
    void stop();
    // The device the application should open.
    QString devicePath() const { return terminal.devicePath(); }

    std::optional<qint32> lastValue() const { return last; }
    int goodFrames() const { return good; }
    int badFrames() const { return bad; }
    LineSettings lineSettings() const { return terminal.lineSettings(); }

    // How long a partial frame may wait for the rest before it counts as bad.
    void setQuietTimeout(int ms) { quietTimer.setInterval(ms); }
    // Bytes the board sends back to the application.
    bool send(const QByteArray &bytes) { return terminal.write(bytes); }

signals:
    void valueReceived(qint32 value);
    void badFrameReceived(const QByteArray &bytes);

private:
    void readAvailable();
    void giveUpOnPartialFrame();
    void handle(const FrameEvent &event);

    PseudoTerminal terminal;
    QSocketNotifier *notifier = nullptr;
    QTimer quietTimer;
    FrameDecoder decoder;
    std::optional<qint32> last;
    int good = 0;
    int bad = 0;
};
