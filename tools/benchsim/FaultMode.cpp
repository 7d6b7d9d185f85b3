#include "tools/benchsim/FaultMode.h"

#include <QStringList>

bool FaultMode::parse(const QString &text, FaultMode &mode)
{
    const QStringList parts = text.trimmed().toLower().split(':');
    const QString name = parts.first();
    bool ok = true;
    const int number = parts.size() > 1 ? parts.at(1).toInt(&ok) : -1;
    if (!ok || parts.size() > 2 || (parts.size() > 1 && number < 0))
        return false;

    FaultMode parsed;
    if (name == "none" || name == "silent" || name == "nul" || name == "long" ||
        name == "garbage") {
        if (parts.size() > 1)
            return false;
        parsed.kind = name == "none"     ? Kind::None
                      : name == "silent" ? Kind::Silent
                      : name == "nul"    ? Kind::Nul
                      : name == "long"   ? Kind::Long
                                         : Kind::Garbage;
    } else if (name == "slow") {
        parsed.kind = Kind::Slow;
        parsed.value = number >= 0 ? number : 3000;
    } else if (name == "disconnect") {
        parsed.kind = Kind::Disconnect;
        parsed.value = number >= 0 ? number : 1;
    } else {
        return false;
    }
    mode = parsed;
    return true;
}

QString FaultMode::toString() const
{
    switch (kind) {
    case Kind::None:
        return "none";
    case Kind::Silent:
        return "silent";
    case Kind::Slow:
        return QString("slow:%1").arg(value);
    case Kind::Disconnect:
        return QString("disconnect:%1").arg(value);
    case Kind::Nul:
        return "nul";
    case Kind::Long:
        return "long";
    case Kind::Garbage:
        return "garbage";
    }
    return QString();
}

QByteArray FaultMode::shape(const QByteArray &reply) const
{
    QByteArray body = reply;
    if (body.endsWith('\n'))
        body.chop(1);
    switch (kind) {
    case Kind::Nul: {
        const int middle = int(body.size()) / 2;
        return body.left(middle) + QByteArray(1, '\0') + body.mid(middle) + '\n';
    }
    case Kind::Long: {
        QByteArray longer = body;
        while (longer.size() <= 256)
            longer += ',' + body;
        return longer + '\n';
    }
    case Kind::Garbage:
        return QByteArray("\x8F\xFF#!?\x01garbage\xC3\x28\x7F\n");
    default:
        return reply;
    }
}
