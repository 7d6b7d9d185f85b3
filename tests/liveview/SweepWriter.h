#pragma once

#include "record/RunRecord.h"
#include "results/FileOperation.h"
#include "results/RecordFile.h"

#include <QVector>

// A sweep written piece by piece as the window and the runner write one: FileOperation appends
// the head block, the heading, each step's value, each reading and the line end, then the end
// line. The records are written as the run engine writes them: beside the run's file, and
// once FileOperation has gone on in a recovery file, beside that one too, the first naming it
// at once ("continuedIn"). Every `errEvery`-th reading is "ERR"; the others follow a line with
// a little ripple.
class SweepWriter
{
public:
    // The run's file in `folder`, its recovery files in `folder`/recovery.
    SweepWriter(const QString &folder, const QVector<qint64> &codes, int readings,
                int errEvery = 0);

    QString file() const { return m_file; }
    QString recoveryFile() const { return m_writer.recoveryFile(); }
    // Per step its value, its readings and its line end; then the end line.
    qint64 pieces() const { return m_codes.size() * (m_readings + 2) + 1; }
    qint64 piecesWritten() const { return m_piece; }
    qint64 stepsWritten() const { return m_piece / (m_readings + 2); }

    bool writePiece(); // false when every piece is written
    void writeStep();  // the rest of the step under way, or the next one
    void finish();     // every piece left, and the record says "finished"
    void stop();       // the record says "stopped", as after the Stop button

private:
    void writeRecords(const QString &status);

    FileOperation m_writer;
    RunRecord m_record;
    RecordFile m_firstRecord;
    RecordFile m_recoveryRecord;
    QString m_file;
    QVector<qint64> m_codes;
    int m_readings;
    int m_errEvery;
    qint64 m_piece = 0;
};
