#include "settings/SerialPortLookup.h"

#include <QFileInfo>

SerialPortMatch findSerialPort(const QString &name, const QList<QSerialPortInfo> &ports)
{
    SerialPortMatch match;
    for (const QSerialPortInfo &port : ports) {
        if (port.portName() == name) {
            match.kind = SerialPortMatch::Enumerated;
            match.info = port;
            return match;
        }
    }

    if (!name.startsWith(QLatin1Char('/')))
        return match;
    const QFileInfo file(name);
    if (!file.exists())
        return match;
    const QString target = file.canonicalFilePath();
    for (const QSerialPortInfo &port : ports) {
        if (QFileInfo(port.systemLocation()).canonicalFilePath() == target) {
            match.kind = SerialPortMatch::Enumerated;
            match.info = port;
            return match;
        }
    }
    match.kind = SerialPortMatch::DevicePath;
    match.devicePath = name;
    return match;
}

void assignSerialPort(const SerialPortMatch &match, QSerialPort &port, QSerialPortInfo &info)
{
    switch (match.kind) {
    case SerialPortMatch::Enumerated:
        info = match.info;
        port.setPort(match.info);
        return;
    case SerialPortMatch::DevicePath:
        info = QSerialPortInfo();
        port.setPortName(match.devicePath);
        return;
    case SerialPortMatch::NotFound:
        info = QSerialPortInfo();
        port.setPortName(QString());
        return;
    }
}
