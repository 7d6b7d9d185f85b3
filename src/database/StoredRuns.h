#pragma once

#include <QDateTime>
#include <QIODevice>
#include <QList>
#include <QString>

#include <limits>

class QSqlDatabase;
class QSqlQuery;

// Which stored runs a report takes. Empty fields take every run; item and tester may hold
// "*" for any text.
struct RunFilter
{
    QString item;
    QString tester;
    QString test;    // "DAC", "ISINK" (any case) or the test's name
    QDateTime since; // runs started at or after
};

// A run as the database has it, enough to write it out as its result file did.
struct StoredRun
{
    qint64 key = 0;
    QString runId;
    QString name; // the result file's name, or the run's id when it has none
    QString testName;
    QString item;
    QString tester;
    QString startStamp;
    QString finishStamp; // empty when the run did not finish
    QString quantity;    // "DAC" or "ISINK"
    int readingColumns = 0;
    bool rowsInBlocks = false; // every row is in an import's blocks: they are read as they are

    // Finds the runs, oldest first. False with `error` on a failed query.
    [[nodiscard]] static bool find(QSqlDatabase &db, const RunFilter &filter,
                                   QList<StoredRun> *runs, QString *error);
};

// A stored run read back as the text of its result file: head block, column heading, its
// rows and, when it finished, the end line, so that the report reads it exactly as it reads
// a file. Rows are fetched a page at a time: memory does not grow with the run.
class StoredRunDevice : public QIODevice
{
public:
    StoredRunDevice(QSqlDatabase &db, const StoredRun &run);

    bool isSequential() const override { return true; }
    QString failure() const { return error; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    bool fill();
    bool fillFromBlocks();
    bool nextPage(QSqlQuery &page, const QString &sql);

    QSqlDatabase &db;
    StoredRun run;
    QByteArray pending;
    qint64 lastStep = std::numeric_limits<qint64>::min();
    bool headWritten = false;
    bool rowsDone = false;
    bool endWritten = false;
    QString error;
};
