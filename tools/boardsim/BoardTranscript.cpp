#include "tools/boardsim/BoardTranscript.h"

#include "tools/boardsim/SimulatedBoard.h"

BoardTranscript::BoardTranscript(QObject *parent) : QObject(parent) {}

bool BoardTranscript::open(const QString &path, QString *error)
{
    file.setFileName(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}

void BoardTranscript::follow(const SimulatedBoard *board)
{
    connect(board, &SimulatedBoard::valueReceived, this, &BoardTranscript::recordValue);
    connect(board, &SimulatedBoard::badFrameReceived, this, &BoardTranscript::recordBadFrame);
}

void BoardTranscript::recordValue(qint32 value)
{
    writeLine("value " + QByteArray::number(value));
}

void BoardTranscript::recordBadFrame(const QByteArray &bytes)
{
    writeLine("bad " + bytes.toHex(' '));
}

void BoardTranscript::writeLine(const QByteArray &line)
{
    if (file.isOpen())
        file.write(line + '\n');
}
