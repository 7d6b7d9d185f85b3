#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// How a run was made, beside its result file: the same name with ".json".
// Written whole or not at all (a temporary file renamed into place), once when
// the run starts and again when it ends, so that a run cut short by a crash
// still says how it began.
class RunRecord
{
public:
    // "<folder>/<name>.json" for "<folder>/<name>.txt".
    static QString pathFor(const QString &resultFile);

    QJsonObject fields; // everything but the times; filled by the run

    void setStarted(const QDateTime &localTime) { started = localTime; }
    void setEnded(const QDateTime &localTime) { ended = localTime; }
    // Writes the record beside `resultFile`, else beside `fallbackFile`
    // (the recovery file). False when neither place takes it.
    [[nodiscard]] bool write(const QString &resultFile, const QString &fallbackFile = QString());
    [[nodiscard]] QString writtenTo() const { return written; }

    // The record beside a result file, if it has one.
    static QJsonObject read(const QString &resultFile);

private:
    QDateTime started;
    QDateTime ended;
    QString written;
};
