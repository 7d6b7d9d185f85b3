#include "tests/database/StoredRows.h"

#include "database/DatabaseConnection.h"
#include "database/StoredRuns.h"
#include "report/ResultFileReader.h"

#include <QSqlQuery>
#include <QVariant>

QList<ComparedRow> fileRows(const QString &path)
{
    QList<ComparedRow> rows;
    (void)ResultFileReader::read(path, [&rows](const ResultRun &, const ResultRow &row) {
        ComparedRow compared{row.number, row.code, {}};
        for (QByteArrayView cell : row.readings)
            compared.cells << QString::fromUtf8(cell);
        rows << compared;
    });
    return rows;
}

namespace {

template <class Use> void withDatabase(const QString &url, Use use)
{
    QString error;
    DatabaseConnection connection(DatabaseUrl::parse(url, &error));
    if (connection.open())
        use(connection.database());
}

} // namespace

QList<ComparedRow> databaseRows(const QString &url, const QString &runId)
{
    QList<ComparedRow> rows;
    withDatabase(url, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        // One cell per element, in order, whatever the cell holds.
        query.prepare(QStringLiteral(
            "SELECT s.step, s.code, e.cell FROM benchtest.steps s JOIN benchtest.runs r "
            "ON r.id = s.run LEFT JOIN LATERAL unnest(s.readings) WITH ORDINALITY "
            "AS e(cell, n) ON true WHERE r.run_id = CAST(? AS uuid) ORDER BY s.step, e.n"));
        query.addBindValue(runId);
        if (!query.exec())
            return;
        while (query.next()) {
            const qint64 step = query.value(0).toLongLong();
            if (rows.isEmpty() || rows.last().step != step)
                rows << ComparedRow{step, query.value(1).toLongLong(), {}};
            if (!query.value(2).isNull())
                rows.last().cells << query.value(2).toString();
        }
    });
    return rows;
}

QByteArray storedText(const QString &url, const QString &runId)
{
    QByteArray text;
    withDatabase(url, [&](QSqlDatabase &db) {
        QList<StoredRun> runs;
        QString error;
        if (!StoredRun::find(db, {}, &runs, &error))
            return;
        for (const StoredRun &run : runs) {
            if (run.runId == runId) {
                StoredRunDevice device(db, run);
                text = device.readAll();
            }
        }
    });
    return text;
}

QString firstDifference(const QList<ComparedRow> &expected, const QList<ComparedRow> &actual)
{
    for (qsizetype i = 0; i < qMax(expected.size(), actual.size()); ++i) {
        const ComparedRow want = expected.value(i);
        const ComparedRow got = actual.value(i);
        if (!(want == got))
            return QStringLiteral("row %1: expected %2 %3 [%4], got %5 %6 [%7]")
                .arg(i + 1)
                .arg(want.step)
                .arg(want.code)
                .arg(want.cells.join(QLatin1Char('|')))
                .arg(got.step)
                .arg(got.code)
                .arg(got.cells.join(QLatin1Char('|')));
    }
    return QString();
}
