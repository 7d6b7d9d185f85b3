#include "report/ReportBuilder.h"

#include "report/ResultFileReader.h"

#include <QFileInfo>

#include <algorithm>

namespace {

LinearityReport makeReport(const QList<ResultRun> &runs, const QVector<StepStats> &steps,
                           const HysteresisResult &hysteresis, const QString &label,
                           const IdealLine &ideal, const QVector<Limit> &limits)
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
    report.ideal = ideal;
    report.steps = steps;
    report.result = LinearityAnalysis::analyse(report.steps, ideal);
    report.hysteresis = hysteresis;
    report.checks = ReportLimits::check(report, limits);
    return report;
}

} // namespace

bool LinearityReport::passes() const
{
    return std::all_of(checks.begin(), checks.end(), [](const LimitCheck &c) { return c.pass; });
}

bool ReportSet::passes() const
{
    return std::all_of(reports.begin(), reports.end(),
                       [](const LinearityReport &r) { return r.passes(); });
}

ReportBuilder::ReportBuilder(Grouping grouping, const IdealLine &ideal,
                             const QVector<Limit> &limits)
    : m_grouping(grouping), m_ideal(ideal), m_limits(limits)
{}

QString ReportBuilder::unitFor(const QString &quantity)
{
    if (quantity == QLatin1String("DAC"))
        return QStringLiteral("V");
    if (quantity == QLatin1String("ISINK"))
        return QStringLiteral("A");
    return QString();
}

void ReportBuilder::add(const ResultRun &run, const ResultRow &row)
{
    const std::pair<qsizetype, int> key{m_files.size(), run.index};
    if (key != m_run) {
        endRun();
        m_run = key;
        m_directions = m_grouping == Grouping::Pooled ? &m_directionsByQuantity[run.quantity]
                                                      : &m_directionsByRun[key];
    }
    m_directions->add(row);
    if (m_grouping == Grouping::Pooled)
        m_byQuantity[run.quantity].add(row);
    else
        m_byRun[key].add(row);
}

void ReportBuilder::endRun()
{
    if (m_directions)
        m_directions->endRun();
    m_directions = nullptr;
    m_run = {-1, 0};
}

void ReportBuilder::addFile(const QString &path)
{
    m_files.append(ResultFileReader::read(
        path, [this](const ResultRun &run, const ResultRow &row) { add(run, row); }));
    endRun();
}

void ReportBuilder::addFile(QIODevice *device, const QString &path)
{
    m_files.append(ResultFileReader::read(
        device, path, [this](const ResultRun &run, const ResultRow &row) { add(run, row); }));
    endRun();
}

ReportSet ReportBuilder::build(const QStringList &paths, Grouping grouping, const IdealLine &ideal,
                               const QVector<Limit> &limits)
{
    ReportBuilder builder(grouping, ideal, limits);
    for (const QString &path : paths)
        builder.addFile(path);
    return builder.finish();
}

ReportSet ReportBuilder::finish()
{
    ReportSet set;
    set.ideal = m_ideal;
    set.limits = m_limits;
    set.files = m_files;

    QList<ResultRun> runs;
    QList<std::pair<qsizetype, int>> keys; // of the runs, for their statistics per run
    QStringList quantities;
    for (qsizetype i = 0; i < m_files.size(); ++i) {
        const ResultFile &file = m_files.at(i);
        const QString name = QFileInfo(file.path).fileName();
        // A file refused as no result file has only noise to warn about.
        if (!file.error.isEmpty()) {
            set.errors.append(QStringLiteral("%1: cannot read: %2").arg(file.path, file.error));
            continue;
        }
        for (const QString &warning : file.warnings)
            set.warnings.append(QStringLiteral("%1: %2").arg(name, warning));
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
            if (run.rows == 0) {
                set.warnings.append(
                    QStringLiteral("%1 run %2: no step rows").arg(name).arg(run.index));
                continue;
            }
            if (!quantities.contains(run.quantity))
                quantities.append(run.quantity);
            runs.append(run);
            keys.append({i, run.index});
        }
    }
    if (!set.errors.isEmpty())
        return set;

    if (m_grouping == Grouping::Pooled) {
        if (quantities.size() > 1) {
            set.errors.append(
                QStringLiteral("runs measure different quantities (%1); report them per run")
                    .arg(quantities.join(QStringLiteral(", "))));
            return set;
        }
        if (!runs.isEmpty())
            set.reports.append(makeReport(runs, m_byQuantity[quantities.first()].steps(),
                                          m_directionsByQuantity[quantities.first()].result(),
                                          QStringLiteral("all runs"), m_ideal, m_limits));
    } else {
        for (qsizetype i = 0; i < runs.size(); ++i) {
            const ResultRun &run = runs.at(i);
            const QString label =
                QStringLiteral("%1 run %2").arg(QFileInfo(run.file).fileName()).arg(run.index);
            set.reports.append(makeReport({run}, m_byRun[keys.at(i)].steps(),
                                          m_directionsByRun[keys.at(i)].result(), label, m_ideal,
                                          m_limits));
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
