#include "tools/runner/Preflight.h"

#include "instruments/visa/visa.h"
#include "settings/SerialPortLookup.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// "VI_ERROR_TMO" of "VI_ERROR_TMO: Timeout expired ...".
QString statusName(ViStatus status)
{
    ViChar text[VI_FIND_BUFLEN] = {};
    viStatusDesc(VI_NULL, status, text);
    return QString::fromLatin1(text).section(QLatin1Char(':'), 0, 0);
}

QString sizeText(qint64 bytes)
{
    if (bytes < 10 * 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 10 * 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

// One VISA session to the meter whose every call ends by a shared deadline.
class MeterLink
{
public:
    explicit MeterLink(int budgetMs) : deadline(budgetMs) {}
    ~MeterLink()
    {
        if (vi != VI_NULL)
            viClose(vi);
        if (rm != VI_NULL)
            viClose(rm);
    }

    ViStatus open(const QString &resource)
    {
        ViStatus status = viOpenDefaultRM(&rm);
        if (status < VI_SUCCESS)
            return status;
        const QByteArray name = resource.toUtf8();
        status = viOpen(rm, name.constData(), VI_NULL, ViUInt32(slice()), &vi);
        if (status < VI_SUCCESS)
            return status;
        return viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    }

    ViStatus write(const QString &command)
    {
        if (!arm())
            return VI_ERROR_TMO;
        const QByteArray bytes = command.toLatin1() + '\n';
        ViUInt32 count = 0;
        return viWrite(vi, reinterpret_cast<ViConstBuf>(bytes.constData()), ViUInt32(bytes.size()),
                       &count);
    }

    // One reply line, without its line end.
    ViStatus query(const QString &command, QString *reply)
    {
        ViStatus status = write(command);
        if (status < VI_SUCCESS)
            return status;
        if (!arm())
            return VI_ERROR_TMO;
        char buffer[1024] = {};
        ViUInt32 count = 0;
        status = viRead(vi, reinterpret_cast<ViPBuf>(buffer), sizeof buffer, &count);
        if (status < VI_SUCCESS)
            return status;
        if (status == VI_SUCCESS_MAX_CNT)
            return VI_ERROR_IO; // no reply of a meter that answers as asked is this long
        *reply = QString::fromUtf8(buffer, int(count)).trimmed();
        return status;
    }

private:
    // What is left of the budget, at most one exchange's timeout; at least 1 ms.
    qint64 slice() const
    {
        return std::clamp<qint64>(deadline.remainingTime(), 1, Preflight::kExchangeTimeoutMs);
    }
    bool arm()
    {
        if (deadline.hasExpired())
            return false;
        return viSetAttribute(vi, VI_ATTR_TMO_VALUE, ViAttrState(slice())) >= VI_SUCCESS;
    }

    QDeadlineTimer deadline;
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
};

// "+0,"No error"" and the like: the entry's number, or false for a reply that is none.
bool queueEntry(const QString &reply, int *number)
{
    static const QRegularExpression entry(QStringLiteral("^([+-]?[0-9]+)\\s*,"));
    const QRegularExpressionMatch match = entry.match(reply);
    bool ok = false;
    if (match.hasMatch())
        *number = match.captured(1).toInt(&ok);
    return ok;
}

} // namespace

Preflight::Preflight(const RunPlan &plan, const QString &folder, bool allowNoMeter)
    : plan(plan), folder(folder), allowNoMeter(allowNoMeter)
{}

bool Preflight::run(QString *failure)
{
    return checkPlan(plan, failure) && checkFolder(folder, plan.estimatedFileBytes(), failure) &&
           checkSerialPort(plan.serialPort, failure) && checkMeter(failure);
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

bool Preflight::checkMeter(QString *failure)
{
    const QString &resource = plan.meterResource;
    if (resource.isEmpty()) {
        if (allowNoMeter)
            return true;
        *failure = QStringLiteral("no multimeter configured: give --dmm, a [meter] resource in "
                                  "the plan, or DMM in config.ini's [defaultAddr] "
                                  "(--allow-no-meter runs without one)");
        return false;
    }

    MeterLink meter(kMeterBudgetMs);
    ViStatus status = meter.open(resource);
    // Without a meter by choice, the run records ERR cells and says so.
    if (status < VI_SUCCESS) {
        if (allowNoMeter)
            return true;
        *failure = QStringLiteral("cannot open the multimeter at %1 (%2)")
                       .arg(resource, statusName(status));
        return false;
    }
    QString reply;
    status = meter.query(QStringLiteral("*IDN?"), &reply);
    if (status < VI_SUCCESS || reply.isEmpty()) {
        if (allowNoMeter)
            return true;
        *failure = QStringLiteral("the multimeter at %1 does not answer *IDN? (%2)")
                       .arg(resource, status < VI_SUCCESS ? statusName(status)
                                                          : QStringLiteral("an empty line"));
        return false;
    }
    if (!plan.expectIdn.isEmpty() && !QRegularExpression(plan.expectIdn).match(reply).hasMatch()) {
        *failure = QStringLiteral("the multimeter at %1 answers \"%2\", not the expected identity "
                                  "'%3'")
                       .arg(resource, reply, plan.expectIdn);
        return false;
    }
    identity = reply;

    // The set-up as the run sends it; the queue then holds what the meter refused.
    const QStringList setup = plan.meter.commands();
    for (const QString &command : setup) {
        status = meter.write(command);
        if (status < VI_SUCCESS) {
            *failure = QStringLiteral("the multimeter at %1 did not take its set-up command %2 "
                                      "(%3)")
                           .arg(resource, command, statusName(status));
            return false;
        }
    }
    QStringList errors;
    for (int i = 0; i < kMaxQueueEntries; ++i) {
        status = meter.query(QStringLiteral("SYST:ERR?"), &reply);
        int number = 0;
        if (status < VI_SUCCESS) {
            *failure = QStringLiteral("the multimeter at %1 does not answer SYST:ERR? after its "
                                      "set-up (%2)")
                           .arg(resource, statusName(status));
            return false;
        }
        if (!queueEntry(reply, &number)) {
            *failure = QStringLiteral("the multimeter at %1 answers \"%2\" to SYST:ERR?, which "
                                      "is no error queue entry")
                           .arg(resource, reply);
            return false;
        }
        if (number == 0) {
            if (errors.isEmpty())
                return true;
            *failure = QStringLiteral("the multimeter at %1 refused its set-up: %2 (set-up: %3)")
                           .arg(resource, errors.join(QStringLiteral("; ")),
                                setup.join(QStringLiteral("; ")));
            return false;
        }
        errors << reply;
    }
    *failure = QStringLiteral("the multimeter at %1 still reports errors after %2 entries of its "
                              "queue: %3")
                   .arg(resource)
                   .arg(kMaxQueueEntries)
                   .arg(errors.first());
    return false;
}
