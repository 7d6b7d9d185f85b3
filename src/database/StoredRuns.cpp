#include "database/StoredRuns.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstring>
#include <limits>

namespace {

constexpr int kPageRows = 5000;
constexpr int kPageBlocks = 64; // of about 8 kB each

// "*" matches any text; LIKE's own wildcards match only themselves.
QString likePattern(const QString &text)
{
    QString pattern = text;
    pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    pattern.replace(QLatin1Char('%'), QLatin1String("\\%"));
    pattern.replace(QLatin1Char('_'), QLatin1String("\\_"));
    pattern.replace(QLatin1Char('*'), QLatin1Char('%'));
    return pattern;
}

// The result file's stamp: as the file had it, else from the record's start in the
// bench's own time zone.
QString stamp(const QVariant &fileStamp, const QVariant &isoTime)
{
    if (!fileStamp.isNull())
        return fileStamp.toString();
    const QDateTime time = QDateTime::fromString(isoTime.toString(), Qt::ISODate);
    return time.isValid() ? time.toString(QStringLiteral("yyMMdd hhmmss")) : QString();
}

// A text array as PostgreSQL writes it: {a,"b c",NULL}.
QList<QByteArray> arrayElements(const QByteArray &text)
{
    QList<QByteArray> elements;
    if (text.size() < 2)
        return elements;
    QByteArray element;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 1; i < text.size() - 1; ++i) {
        const char c = text.at(i);
        if (quoted && c == '\\' && i + 1 < text.size() - 1) {
            element += text.at(++i);
        } else if (c == '"') {
            quoted = !quoted;
            wasQuoted = true;
        } else if (c == ',' && !quoted) {
            elements.append(element);
            element.clear();
            wasQuoted = false;
        } else {
            element += c;
        }
    }
    if (!element.isEmpty() || wasQuoted || !elements.isEmpty())
        elements.append(element);
    return elements;
}

} // namespace

bool StoredRun::find(QSqlDatabase &db, const RunFilter &filter, QList<StoredRun> *runs,
                     QString *error)
{
    QString sql = QStringLiteral(
        "SELECT id, run_id::text, coalesce(source_file, result_file), source_run, test_name, "
        "item, tester, start_stamp, record->>'started', finish_stamp, record->>'ended', "
        "status, test, reading_columns, rows_imported AND NOT EXISTS "
        "(SELECT 1 FROM benchtest.taken_steps t WHERE t.run = runs.id) "
        "FROM benchtest.runs WHERE test IS NOT NULL");
    QVariantList values;
    if (!filter.item.isEmpty()) {
        sql += QStringLiteral(" AND item LIKE ?");
        values << likePattern(filter.item);
    }
    if (!filter.tester.isEmpty()) {
        sql += QStringLiteral(" AND tester LIKE ?");
        values << likePattern(filter.tester);
    }
    if (!filter.test.isEmpty()) {
        sql += QStringLiteral(" AND (upper(test) = upper(?) OR test_name = ?)");
        values << filter.test << filter.test;
    }
    if (filter.since.isValid()) {
        sql += QStringLiteral(" AND started >= CAST(? AS timestamptz)");
        values << filter.since.toOffsetFromUtc(filter.since.offsetFromUtc()).toString(Qt::ISODate);
    }
    sql += QStringLiteral(" ORDER BY started NULLS FIRST, id");
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        *error = query.lastError().text().trimmed();
        return false;
    }
    while (query.next()) {
        StoredRun run;
        run.key = query.value(0).toLongLong();
        run.runId = query.value(1).toString();
        const QString file = QFileInfo(query.value(2).toString()).fileName();
        run.name = file.isEmpty() ? run.runId : file;
        if (!query.value(3).isNull() && query.value(3).toInt() > 1)
            run.name += QStringLiteral(" #%1").arg(query.value(3).toInt());
        run.testName = query.value(4).toString();
        run.item = query.value(5).toString();
        run.tester = query.value(6).toString();
        run.startStamp = stamp(query.value(7), query.value(8));
        const bool finished = query.value(11).toString() == QLatin1String("finished");
        run.finishStamp = finished ? stamp(query.value(9), query.value(10)) : QString();
        if (finished && run.finishStamp.isEmpty())
            run.finishStamp = QStringLiteral("000000 000000");
        run.quantity = query.value(12).toString();
        run.readingColumns = query.value(13).toInt();
        run.rowsInBlocks = query.value(14).toBool();
        runs->append(run);
    }
    return true;
}

StoredRunDevice::StoredRunDevice(QSqlDatabase &db, const StoredRun &run) : db(db), run(run)
{
    open(QIODevice::ReadOnly);
}

bool StoredRunDevice::fill()
{
    if (!headWritten) {
        headWritten = true;
        QString head =
            QStringLiteral("测试项: [%1]\n测试名: [%2]\n测试人: [%3]\n开始时间: [%4]\n\n")
                .arg(run.testName, run.item, run.tester, run.startStamp);
        head += QStringLiteral("No.\t") + run.quantity;
        for (int i = 1; i <= run.readingColumns; ++i)
            head += QStringLiteral("\tDMM%1").arg(i);
        pending = head.toUtf8() + '\n';
        return true;
    }
    if (!rowsDone && run.rowsInBlocks)
        return fillFromBlocks();
    if (!rowsDone) {
        QSqlQuery page(db);
        if (!nextPage(page, QStringLiteral("SELECT step, code, readings::text, ended, cut "
                                           "FROM benchtest.steps WHERE run = ? AND step > ? "
                                           "ORDER BY step LIMIT %1")
                                .arg(kPageRows)))
            return false;
        int rows = 0;
        while (page.next()) {
            ++rows;
            lastStep = page.value(0).toLongLong();
            pending += QByteArray::number(lastStep) + '\t' +
                       QByteArray::number(page.value(1).toLongLong());
            for (const QByteArray &cell : arrayElements(page.value(2).toString().toUtf8()))
                pending += '\t' + cell;
            // A row cut off mid-cell is written as it was: without its line end, with a
            // stand-in for the cut cell that the reader leaves out again.
            if (page.value(4).toBool())
                pending += "\t-";
            if (page.value(3).toBool())
                pending += '\n';
        }
        rowsDone = rows < kPageRows;
        return true;
    }
    if (!endWritten) {
        endWritten = true;
        if (!run.finishStamp.isEmpty())
            pending = QStringLiteral("\n完成时间: [%1]\n").arg(run.finishStamp).toUtf8();
        return true;
    }
    return false;
}

// The blocks hold the rows as the file had them, a line each: they are the text, but for a
// row without its line end or with a cut cell, which is written as the row pages write it.
bool StoredRunDevice::fillFromBlocks()
{
    QSqlQuery page(db);
    if (!nextPage(page, QStringLiteral("SELECT first_step, lines, unended_steps::text, "
                                       "cut_steps::text FROM benchtest.imported_blocks "
                                       "WHERE run = ? AND first_step > ? "
                                       "ORDER BY first_step LIMIT %1")
                            .arg(kPageBlocks)))
        return false;
    int blocks = 0;
    while (page.next()) {
        ++blocks;
        lastStep = page.value(0).toLongLong();
        const QByteArray lines = page.value(1).toString().toUtf8();
        const QList<QByteArray> unended = arrayElements(page.value(2).toByteArray());
        const QList<QByteArray> cut = arrayElements(page.value(3).toByteArray());
        if (unended.isEmpty() && cut.isEmpty()) {
            pending += lines + '\n';
            continue;
        }
        for (const QByteArray &line : lines.split('\n')) {
            const QByteArray step = line.left(line.indexOf('\t'));
            pending += line;
            if (cut.contains(step))
                pending += "\t-";
            if (!unended.contains(step))
                pending += '\n';
        }
    }
    rowsDone = blocks < kPageBlocks;
    return true;
}

// Runs a page's query for the run, from after the last step read.
bool StoredRunDevice::nextPage(QSqlQuery &page, const QString &sql)
{
    page.setForwardOnly(true);
    page.prepare(sql);
    page.addBindValue(run.key);
    page.addBindValue(lastStep);
    if (page.exec())
        return true;
    error = page.lastError().text().trimmed();
    setErrorString(error);
    return false;
}

qint64 StoredRunDevice::readData(char *data, qint64 maxSize)
{
    while (pending.isEmpty()) {
        if (!fill())
            return error.isEmpty() ? 0 : -1;
    }
    const qint64 n = qMin<qint64>(maxSize, pending.size());
    std::memcpy(data, pending.constData(), size_t(n));
    pending.remove(0, qsizetype(n));
    return n;
}
