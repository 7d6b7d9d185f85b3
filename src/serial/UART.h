#pragma once

#include <QObject>
#include <QString>

struct SerialConfig;

// Serial link to the board under test. Every call works on the port held by
// the SerialConfig it is given; the link only remembers that the device went
// away, to open it again once it is back.
class UART : public QObject
{
    Q_OBJECT

public:
    UART();
    ~UART() override;

    // 115200 8N1, no flow control, read/write. Returns 0 when open, 1 on failure.
    int Open(SerialConfig &cfg);
    void Close(SerialConfig &cfg);
    // Sends one 5-byte value frame: big-endian value and an additive checksum.
    // False when the frame could not be handed to an open port.
    bool SendValue(SerialConfig &cfg, qint32 value);
    qint32 ReceiveValue(SerialConfig &cfg);
    void SendString(SerialConfig &cfg, const QString &text);

private:
    bool reopen(SerialConfig &cfg);

    bool deviceLost = false;
};
