#include "tools/boardsim/SimulatedBoard.h"

#include <QSocketNotifier>

SimulatedBoard::SimulatedBoard(QObject *parent) : QObject(parent)
{
    // A frame leaves the application in one write, so its bytes arrive within
    // microseconds of each other; a gap this long means the rest is not coming.
    quietTimer.setInterval(50);
    quietTimer.setSingleShot(true);
    connect(&quietTimer, &QTimer::timeout, this, &SimulatedBoard::giveUpOnPartialFrame);
}

SimulatedBoard::~SimulatedBoard()
{
    stop();
}

bool SimulatedBoard::start(QString *error)
{
    stop();
    if (!terminal.open(error))
        return false;
    notifier = new QSocketNotifier(terminal.descriptor(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SimulatedBoard::readAvailable);
    return true;
}

void SimulatedBoard::stop()
{
    delete notifier;
    notifier = nullptr;
    quietTimer.stop();
    terminal.close();
}

void SimulatedBoard::readAvailable()
{
    const QByteArray bytes = terminal.readAvailable();
    if (bytes.isEmpty())
        return;
    for (const FrameEvent &event : decoder.feed(bytes))
        handle(event);
    if (decoder.hasPending())
        quietTimer.start();
    else
        quietTimer.stop();
}

void SimulatedBoard::giveUpOnPartialFrame()
{
    if (const auto event = decoder.flush())
        handle(*event);
}

void SimulatedBoard::handle(const FrameEvent &event)
{
    if (event.kind == FrameEvent::BadFrame) {
        ++bad;
        emit badFrameReceived(event.bytes);
        return;
    }
    ++good;
    last = event.value;
    emit valueReceived(event.value);
}
