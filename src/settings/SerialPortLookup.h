#pragma once

#include <QList>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>

// How the port chosen on the form was found among the system's ports.
struct SerialPortMatch
{
    enum Kind
    {
        NotFound,
        Enumerated,
        DevicePath
    };
    Kind kind = NotFound;
    QSerialPortInfo info; // set for Enumerated
    QString devicePath;   // set for DevicePath: a device node the list does not show
};

// Takes the first enumerated port whose name equals `name`; else, when `name`
// is an existing device path, the enumerated port it resolves to (a by-id
// symlink) or the path itself (a pseudo-terminal, say).
SerialPortMatch findSerialPort(const QString &name, const QList<QSerialPortInfo> &ports);

// Points `port` at what `match` found and keeps its description in `info`
// (none for a device path). NotFound clears both: a run must never go to the
// board of an earlier lookup.
void assignSerialPort(const SerialPortMatch &match, QSerialPort &port, QSerialPortInfo &info);
