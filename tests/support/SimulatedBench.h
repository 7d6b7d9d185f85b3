#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The simulated multimeter (loopback TCP) and board (pseudo-terminal) as
// separate processes, with the transcripts of what each received.
class SimulatedBench
{
public:
    SimulatedBench();
    ~SimulatedBench();

    // Starts both simulators; extra options go to the multimeter (fault modes).
    bool start(const QStringList &meterOptions = {});
    void stop();
    // Ends the board process: its pseudo-terminal closes, as when a USB
    // adapter is pulled out.
    void stopBoard();
    QString error() const { return lastError; }

    QString meterResource() const { return meterAddress; }
    // A loopback port nobody listens on: the connection is refused at once.
    QString refusedResource() const;
    QString boardPath() const { return devicePath; }

    // What arrived since the last clearTranscripts().
    QStringList meterLines() const;
    QList<qint32> boardValues() const;
    int badFrames() const;
    void clearTranscripts();

private:
    bool startProcess(QProcess &process, const QString &program, const QStringList &arguments,
                      QString *firstLine);
    QStringList transcriptLines(const QString &path, qint64 from) const;

    QTemporaryDir dir;
    QProcess meter;
    QProcess board;
    QString meterAddress;
    QString devicePath;
    QString lastError;
    qint64 meterOffset = 0;
    qint64 boardOffset = 0;
};
