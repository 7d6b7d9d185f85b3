#pragma once

#include <QByteArray>
#include <QString>

// Line settings of the terminal as the side that opened the device set them.
// A pseudo-terminal keeps the baud rate, stop bits and flow control it is
// given but always reports 8 data bits without parity.
struct LineSettings
{
    qint32 baudRate = 0;
    int stopBits = 0;
    bool hardwareFlowControl = false;
    bool softwareFlowControl = false;
};

// A pseudo-terminal pair in raw mode at 115200 8N1. The application opens the
// device at devicePath(); this side reads and writes the other end.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Returns false with a reason in `error` when no pair could be made.
    bool open(QString *error);
    void close();
    bool isOpen() const { return controller >= 0; }

    // Non-blocking: watch it for readability.
    int descriptor() const { return controller; }
    QString devicePath() const { return path; }

    // Everything the application has written so far, without blocking.
    QByteArray readAvailable();
    // Bytes for the application to read; true when all were accepted.
    bool write(const QByteArray &bytes);
    LineSettings lineSettings() const;

private:
    int controller = -1;
    // Our own descriptor on the device: while the application has it closed,
    // the controlling side would otherwise see a hang-up on every poll.
    int device = -1;
    QString path;
};
