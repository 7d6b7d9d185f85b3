#include "tools/runner/Preflight.h"

#include "settings/SerialPortLookup.h"

#include <QFileInfo>

#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

QString sizeText(qint64 bytes)
{
    if (bytes < 10 * 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 10 * 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

} // namespace

Preflight::Preflight(const RunPlan &plan, const QString &folder, bool allowNoMeter)
    : plan(plan), folder(folder), allowNoMeter(allowNoMeter)
{}

bool Preflight::run(QString *failure) const
{
    return checkPlan(plan, failure) && checkFolder(folder, plan.estimatedFileBytes(), failure) &&
           checkSerialPort(plan.serialPort, failure) &&
           checkMeterConfigured(plan.meterResource, allowNoMeter, failure);
}

bool Preflight::checkPlan(const RunPlan &plan, QString *failure)
{
    QString error;
    if (plan.validate(&error))
        return true;
    *failure = QStringLiteral("the plan is not valid: ") + error;
    return false;
}

bool Preflight::checkFolder(const QString &folder, qint64 bytesNeeded, QString *failure)
{
    const QFileInfo info(folder);
    if (!info.isDir()) {
        *failure = QStringLiteral("result folder %1 does not exist").arg(folder);
        return false;
    }
    // access() also tells a read-only file system, where root may not write either.
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    if (::access(path.constData(), W_OK | X_OK) != 0) {
        *failure = QStringLiteral("result folder %1 is not writable").arg(folder);
        return false;
    }
    struct statvfs space = {};
    if (::statvfs(path.constData(), &space) != 0) {
        *failure = QStringLiteral("result folder %1: cannot tell its free space: %2")
                       .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const qint64 free = qint64(space.f_bavail) * qint64(space.f_frsize);
    if (free < bytesNeeded) {
        *failure = QStringLiteral("result folder %1 has %2 free, the run needs about %3")
                       .arg(folder, sizeText(free), sizeText(bytesNeeded));
        return false;
    }
    // The result file, its record and the record's temporary copy.
    if (space.f_files > 0 && space.f_favail < 3) {
        *failure = QStringLiteral("result folder %1 has no room for another file (no free inode)")
                       .arg(folder);
        return false;
    }
    return true;
}

bool Preflight::checkSerialPort(const QString &name, QString *failure)
{
    if (name.isEmpty())
        return true;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    const SerialPortMatch match = findSerialPort(name, ports);
    if (match.kind == SerialPortMatch::NotFound) {
        QStringList names;
        for (const QSerialPortInfo &info : ports)
            names << info.portName();
        *failure = QStringLiteral("serial port %1 not found (ports present: %2)")
                       .arg(name, names.isEmpty() ? QStringLiteral("none")
                                                  : names.join(QStringLiteral(", ")));
        return false;
    }
    QSerialPort port;
    QSerialPortInfo info;
    assignSerialPort(match, port, info);
    if (!port.open(QIODevice::ReadWrite)) {
        *failure = QStringLiteral("cannot open serial port %1: %2").arg(name, port.errorString());
        return false;
    }
    port.close();
    return true;
}

bool Preflight::checkMeterConfigured(const QString &resource, bool allowNoMeter, QString *failure)
{
    if (!resource.isEmpty() || allowNoMeter)
        return true;
    *failure = QStringLiteral("no multimeter configured: give --dmm, a [meter] resource in the "
                              "plan, or DMM in config.ini's [defaultAddr] (--allow-no-meter runs "
                              "without one)");
    return false;
}
