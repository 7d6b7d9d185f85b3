#pragma once

#include <QFile>
#include <QObject>

class SimulatedBoard;

// Records what the board received, one line per frame, written through at
// once so that a reader sees each line as soon as the frame is in:
//   value 1000
//   bad 12 34 56
class BoardTranscript : public QObject
{
    Q_OBJECT

public:
    explicit BoardTranscript(QObject *parent = nullptr);

    // Starts an empty transcript at `path`; false with a reason when it cannot.
    bool open(const QString &path, QString *error);
    void follow(const SimulatedBoard *board);

    void recordValue(qint32 value);
    void recordBadFrame(const QByteArray &bytes);

private:
    void writeLine(const QByteArray &line);

    QFile file;
};
