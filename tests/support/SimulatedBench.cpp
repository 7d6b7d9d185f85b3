#include "tests/support/SimulatedBench.h"

#include "tests/support/LoopbackPort.h"

#include <QRegularExpression>

SimulatedBench::SimulatedBench() = default;

SimulatedBench::~SimulatedBench() = default;

bool SimulatedBench::start(const QStringList &meterOptions)
{
    if (!meter.start(QStringList{"--dmm"} + meterOptions)) {
        lastError = meter.error();
        return false;
    }
    if (!board.start()) {
        lastError = board.error();
        return false;
    }
    return true;
}

void SimulatedBench::stop()
{
    meter.stop();
    board.stop();
}

void SimulatedBench::stopBoard()
{
    board.stop();
}

QString SimulatedBench::refusedResource() const
{
    return QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
}

QStringList SimulatedBench::meterLines() const
{
    return meter.transcript(QStringLiteral("dmm")).mid(meterSeen);
}

// The board's transcript has "value N" and "bad <hex bytes>" lines.
QList<qint32> SimulatedBench::boardValues() const
{
    QList<qint32> values;
    for (const QString &line : board.transcript().mid(boardSeen)) {
        if (line.startsWith(QLatin1String("value ")))
            values << line.mid(6).toInt();
    }
    return values;
}

int SimulatedBench::badFrames() const
{
    return int(board.transcript().mid(boardSeen).filter(QRegularExpression("^bad ")).size());
}

void SimulatedBench::clearTranscripts()
{
    meterSeen = meter.transcript(QStringLiteral("dmm")).size();
    boardSeen = board.transcript().size();
}
