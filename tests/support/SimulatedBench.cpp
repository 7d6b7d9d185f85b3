#include "SimulatedBench.h"

#include "LoopbackPort.h"

#include <QFile>
#include <QFileInfo>

#include <signal.h>

SimulatedBench::SimulatedBench() = default;

SimulatedBench::~SimulatedBench()
{
    stop();
}

bool SimulatedBench::startProcess(QProcess &process, const QString &program,
                                  const QStringList &arguments, QString *firstLine)
{
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted(5000)) {
        lastError = program + ": " + process.errorString();
        return false;
    }
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(5000)) {
            lastError = program + ": no address line";
            return false;
        }
    }
    *firstLine = QString::fromLocal8Bit(process.readLine()).trimmed();
    return true;
}

bool SimulatedBench::start(const QStringList &meterOptions)
{
    QString line;
    const QString meterTranscript = dir.filePath(QStringLiteral("meter.txt"));
    if (!startProcess(meter, QStringLiteral(BENCHSIM_PROGRAM),
                      QStringList{"--dmm", "--transcript", meterTranscript} + meterOptions, &line))
        return false;
    for (const QString &field : line.split(QLatin1Char(' '))) {
        if (field.startsWith(QLatin1String("dmm=")))
            meterAddress = field.mid(4);
    }
    if (meterAddress.isEmpty()) {
        lastError = QStringLiteral("unexpected address line: ") + line;
        return false;
    }

    if (!startProcess(board, QStringLiteral(BENCHSIM_BOARD_PROGRAM),
                      {"--transcript", dir.filePath(QStringLiteral("board.txt"))}, &devicePath))
        return false;
    return true;
}

static void terminate(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

void SimulatedBench::stop()
{
    terminate(meter);
    terminate(board);
}

void SimulatedBench::stopBoard()
{
    terminate(board);
}

QString SimulatedBench::refusedResource() const
{
    return QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
}

QStringList SimulatedBench::transcriptLines(const QString &path, qint64 from) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

QStringList SimulatedBench::meterLines() const
{
    QStringList lines;
    for (const QString &line :
         transcriptLines(dir.filePath(QStringLiteral("meter.txt")), meterOffset)) {
        if (line.startsWith(QLatin1String("dmm ")))
            lines << line.mid(4);
    }
    return lines;
}

QList<qint32> SimulatedBench::boardValues() const
{
    QList<qint32> values;
    for (const QString &line :
         transcriptLines(dir.filePath(QStringLiteral("board.txt")), boardOffset)) {
        if (line.startsWith(QLatin1String("value ")))
            values << line.mid(6).toInt();
    }
    return values;
}

int SimulatedBench::badFrames() const
{
    int count = 0;
    for (const QString &line :
         transcriptLines(dir.filePath(QStringLiteral("board.txt")), boardOffset))
        count += line.startsWith(QLatin1String("bad ")) ? 1 : 0;
    return count;
}

void SimulatedBench::clearTranscripts()
{
    meterOffset = QFileInfo(dir.filePath(QStringLiteral("meter.txt"))).size();
    boardOffset = QFileInfo(dir.filePath(QStringLiteral("board.txt"))).size();
}
