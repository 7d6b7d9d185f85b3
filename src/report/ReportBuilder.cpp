#include "ReportBuilder.h"

#include "ResultFileReader.h"

#include <QFileInfo>

namespace {

LinearityReport makeReport(const QList<ResultRun> &runs, const QString &label,
                           const IdealLine &ideal)
{
    LinearityReport report;
    report.label = label;
    report.runs = runs;
    QStringList items;
    for (const ResultRun &run : runs) {
        if (!run.testItem.isEmpty() && !items.contains(run.testItem))
            items.append(run.testItem);
    }
    report.title = items.join(QStringLiteral(", "));
    report.quantity = runs.isEmpty() ? QString() : runs.first().quantity;
    report.unit = ReportBuilder::unitFor(report.quantity);
    report.steps = StepStatistics::collect(runs);
    report.result = LinearityAnalysis::analyse(report.steps, ideal);
    return report;
}

} // namespace

QString ReportBuilder::unitFor(const QString &quantity)
{
    if (quantity == QLatin1String("DAC"))
        return QStringLiteral("V");
    if (quantity == QLatin1String("ISINK"))
        return QStringLiteral("A");
    return QString();
}

ReportSet ReportBuilder::build(const QStringList &paths, Grouping grouping, const IdealLine &ideal)
{
    QList<ResultFile> files;
    for (const QString &path : paths)
        files.append(ResultFileReader::read(path));
    return build(files, grouping, ideal);
}

ReportSet ReportBuilder::build(const QList<ResultFile> &files, Grouping grouping,
                               const IdealLine &ideal)
{
    ReportSet set;
    set.ideal = ideal;
    set.files = files;

    QList<ResultRun> runs;
    QStringList quantities;
    for (const ResultFile &file : files) {
        const QString name = QFileInfo(file.path).fileName();
        for (const QString &warning : file.warnings)
            set.warnings.append(QStringLiteral("%1: %2").arg(name, warning));
        if (!file.error.isEmpty()) {
            set.errors.append(QStringLiteral("%1: cannot read: %2").arg(file.path, file.error));
            continue;
        }
        if (file.runs.isEmpty()) {
            set.errors.append(QStringLiteral("%1: no result run found").arg(file.path));
            continue;
        }
        for (const ResultRun &run : file.runs) {
            if (unitFor(run.quantity).isEmpty())
                set.warnings.append(QStringLiteral("%1 run %2: unknown quantity \"%3\", no unit")
                                        .arg(name)
                                        .arg(run.index)
                                        .arg(run.quantity));
            if (run.rows.isEmpty()) {
                set.warnings.append(
                    QStringLiteral("%1 run %2: no step rows").arg(name).arg(run.index));
                continue;
            }
            if (!quantities.contains(run.quantity))
                quantities.append(run.quantity);
            runs.append(run);
        }
    }
    if (!set.errors.isEmpty())
        return set;

    if (grouping == Grouping::Pooled) {
        if (quantities.size() > 1) {
            set.errors.append(
                QStringLiteral("runs measure different quantities (%1); report them per run")
                    .arg(quantities.join(QStringLiteral(", "))));
            return set;
        }
        if (!runs.isEmpty())
            set.reports.append(makeReport(runs, QStringLiteral("all runs"), ideal));
    } else {
        for (const ResultRun &run : runs) {
            const QString label =
                QStringLiteral("%1 run %2").arg(QFileInfo(run.file).fileName()).arg(run.index);
            set.reports.append(makeReport({run}, label, ideal));
        }
    }

    for (qsizetype i = set.reports.size() - 1; i >= 0; --i) {
        if (set.reports.at(i).result.codesWithData == 0) {
            set.warnings.append(
                QStringLiteral("%1: no valid reading").arg(set.reports.at(i).label));
            set.reports.removeAt(i);
        }
    }
    if (set.reports.isEmpty())
        set.errors.append(QStringLiteral("no valid reading to analyse"));
    return set;
}
