#include "engine/ErrorQueue.h"

#include <QRegularExpression>
#include <QStringList>

namespace ErrorQueue {

bool entryNumber(const QString &reply, int *number)
{
    static const QRegularExpression entry(QStringLiteral("^\\s*([+-]?[0-9]+)\\s*,"));
    const QRegularExpressionMatch match = entry.match(reply);
    bool ok = false;
    if (match.hasMatch())
        *number = match.captured(1).toInt(&ok);
    return ok;
}

QString problem(const std::function<QString()> &ask, const std::function<bool()> &timeLeft,
                const QString &sent)
{
    QStringList errors;
    for (int i = 0; i < kMaxEntries; ++i) {
        if (!timeLeft())
            return QStringLiteral("does not finish its checks in time");
        const QString reply = ask().trimmed();
        int number = 0;
        if (reply.isEmpty())
            return QStringLiteral("does not answer SYST:ERR? after its set-up");
        if (!entryNumber(reply, &number))
            return QStringLiteral("answers \"%1\" to SYST:ERR?, which is no error queue entry")
                .arg(reply);
        if (number == 0) {
            if (errors.isEmpty())
                return QString();
            return QStringLiteral("refused its set-up: %1 (%2)")
                .arg(errors.join(QStringLiteral("; ")), sent);
        }
        errors << reply;
    }
    return QStringLiteral("still reports errors after %1 entries of its queue: %2")
        .arg(kMaxEntries)
        .arg(errors.constFirst());
}

} // namespace ErrorQueue
