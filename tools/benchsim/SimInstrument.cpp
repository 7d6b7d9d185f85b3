#include "tools/benchsim/SimInstrument.h"

#include "tools/benchsim/ScpiCommand.h"

QByteArray SimInstrument::respond(const QByteArray &line)
{
    QList<QByteArray> replies;
    for (const ScpiCommand &command : ScpiCommand::parseLine(line)) {
        QByteArray reply;
        if (!executeCommon(command, reply) && !execute(command, reply)) {
            errorQueue.append("-113,\"Undefined header\"");
            continue;
        }
        if (command.isQuery())
            replies.append(reply);
    }
    if (replies.isEmpty())
        return QByteArray();
    return replies.join(';') + '\n';
}

bool SimInstrument::executeCommon(const ScpiCommand &command, QByteArray &reply)
{
    if (command.matches("*CLS")) {
        errorQueue.clear();
        return true;
    }
    if (command.matches("*OPC?")) {
        reply = "1";
        return true;
    }
    if (command.matches("SYSTem:ERRor:[NEXT]?")) {
        reply = errorQueue.isEmpty() ? QByteArray("+0,\"No error\"") : errorQueue.takeFirst();
        return true;
    }
    return false;
}
