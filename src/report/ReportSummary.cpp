#include "report/ReportSummary.h"

#include "record/RunRecord.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// "  Label:" padded so that every value starts in the same column.
QString field(const QString &label)
{
    return QStringLiteral("  %1").arg(label + QLatin1Char(':'), -21);
}

QString withUnit(double value, const QString &unit)
{
    const QString text = ReportSummary::number(value);
    return unit.isEmpty() || std::isnan(value) ? text : text + QLatin1Char(' ') + unit;
}

QString signedNumber(double value)
{
    const QString text = ReportSummary::number(value);
    return value > 0 ? QLatin1Char('+') + text : text;
}

// Figures in LSB, to four decimals; float residue such as 4e-16 reads as 0.
QString lsb(double value, bool withSign = true)
{
    if (std::isnan(value))
        return QStringLiteral("-");
    if (std::fabs(value) < 0.00005)
        return QStringLiteral("0.0000");
    const QString text = QString::number(value, 'f', 4);
    return value > 0 && withSign ? QLatin1Char('+') + text : text;
}

QString runLine(const ResultRun &run)
{
    QString line = QStringLiteral("%1 run %2: ").arg(QFileInfo(run.file).fileName()).arg(run.index);
    line += run.testItem.isEmpty() ? QStringLiteral("(no item)") : run.testItem;
    if (!run.tester.isEmpty())
        line += QStringLiteral(", tester ") + run.tester;
    if (!run.startTime.isEmpty())
        line += QStringLiteral(", started ") + run.startTime;
    line += QStringLiteral(", %1 rows, ").arg(run.rows);
    line += run.finished ? QStringLiteral("finished ") + run.finishTime
                         : QStringLiteral("stopped early");
    return line;
}

QString fitLines(const QString &name, const FitFigures &fit, const QString &unit)
{
    const QString indent(23, QLatin1Char(' '));
    QString text = field(name);
    if (!fit.line.valid)
        return text + QStringLiteral("not enough codes with data\n");
    const QString perCode = unit.isEmpty() ? QStringLiteral("per code") : unit + "/code";
    text +=
        QStringLiteral("gain %1 %2, offset %3\n")
            .arg(ReportSummary::number(fit.line.gain), perCode, withUnit(fit.line.offset, unit));
    QStringList errors;
    if (fit.gainErrorPercent)
        errors.append(
            QStringLiteral("gain error %1 % (%2 %3)")
                .arg(signedNumber(*fit.gainErrorPercent), signedNumber(*fit.gainError), perCode));
    if (fit.offsetError) {
        QString offset = QStringLiteral("offset error %1").arg(signedNumber(*fit.offsetError));
        if (!unit.isEmpty())
            offset += QLatin1Char(' ') + unit;
        if (fit.offsetErrorLsb)
            offset += QStringLiteral(" (%1 LSB)").arg(lsb(*fit.offsetErrorLsb));
        errors.append(offset);
    }
    if (!errors.isEmpty())
        text += indent + errors.join(QStringLiteral(", ")) + QLatin1Char('\n');
    return text;
}

QString extremeLine(const QString &name, const Extreme &extreme)
{
    QString text = field(name);
    if (!extreme.valid)
        return text + QStringLiteral("-\n");
    return text +
           QStringLiteral("max %1 LSB at code %2\n").arg(lsb(extreme.value)).arg(extreme.code);
}

// With noise, a code counts as missing up to a few standard errors above DNL -1; says how far.
QString missingCodeLimit(const LinearityResult &r)
{
    double least = 0;
    double most = 0;
    bool any = false;
    for (double se : r.dnlStdError) {
        if (std::isnan(se))
            continue;
        least = any ? std::min(least, se) : se;
        most = any ? std::max(most, se) : se;
        any = true;
    }
    if (!any || most == 0)
        return QString();
    QString range = lsb(most, false);
    if (lsb(least, false) != range)
        range = lsb(least, false) + QStringLiteral(" to ") + range;
    return field(QStringLiteral("Missing-code limit")) +
           QStringLiteral("DNL <= -1 + %1 se, se %2 LSB from the noise\n")
               .arg(LinearityAnalysis::kMissingCodeSigmas)
               .arg(range);
}

// What went into a pooled report: the summary must not hide that files or runs were merged.
QString pooledLine(const LinearityReport &report)
{
    QStringList files;
    for (const ResultRun &run : report.runs) {
        if (!files.contains(run.file))
            files.append(run.file);
    }
    qint64 least = 0;
    qint64 most = 0;
    for (const StepStats &step : report.steps) {
        if (!step.hasData())
            continue;
        least = least == 0 ? step.count : std::min(least, step.count);
        most = std::max(most, step.count);
    }
    const QString perCode =
        least == most ? QString::number(most) : QStringLiteral("%1 to %2").arg(least).arg(most);
    return field(QStringLiteral("Pooled")) +
           QStringLiteral("%1 file%2, %3 run%4, %5 reading%6 per code\n")
               .arg(files.size())
               .arg(files.size() == 1 ? "" : "s")
               .arg(report.runs.size())
               .arg(report.runs.size() == 1 ? "" : "s")
               .arg(perCode)
               .arg(most == 1 ? "" : "s");
}

// How each file's run was made, from the record the run leaves beside it
// ("<name>.json" for "<name>.txt"), when there is one.
QString recordLines(const LinearityReport &report)
{
    QString text;
    QStringList seen;
    for (const ResultRun &run : report.runs) {
        if (seen.contains(run.file))
            continue;
        seen.append(run.file);
        const std::optional<RunRecord> record = RunRecord::readBeside(run.file);
        if (!record)
            continue;
        const RunRecord::Parameters &used = record->parametersUsed;
        text += field(QStringLiteral("Record")) +
                QStringLiteral("%1: meter %2 at %3; %4 steps, settle %5 ms, %6 readings %7 ms "
                               "apart; %8\n")
                    .arg(QFileInfo(run.file).fileName(),
                         record->meter.identity.isEmpty() ? QStringLiteral("(no identity)")
                                                          : record->meter.identity,
                         record->meter.resource)
                    .arg(used.steps)
                    .arg(used.settleMs)
                    .arg(used.readingsPerStep)
                    .arg(used.readingIntervalMs)
                    .arg(record->hasEnded() && !record->outcome.summary.isEmpty()
                             ? record->outcome.summary
                             : QStringLiteral("no outcome recorded"));
    }
    return text;
}

// Noise so large that healthy codes fall below the missing-code limit by chance.
QString weakMissingCodeTest(const LinearityResult &r)
{
    if (r.expectedFalseMissing < ReportSummary::kWeakMissingCodeTest)
        return QString();
    return field(QStringLiteral("Warning")) +
           QStringLiteral("the noise makes the missing-code test weak: about %1 healthy codes "
                          "are expected to be reported missing by chance; take more readings "
                          "per code\n")
               .arg(r.expectedFalseMissing < 10
                        ? QString::number(r.expectedFalseMissing, 'f', 1)
                        : QString::number(qRound64(r.expectedFalseMissing)));
}

// Only for a sweep that went both ways through some code.
QString hysteresisLine(const LinearityReport &report)
{
    const HysteresisResult &h = report.hysteresis;
    if (!h.sweptBothWays())
        return QString();
    const LineFit &fit = report.result.leastSquares.line;
    const double value = h.maximum.value;
    QString size = withUnit(value, report.unit);
    if (value > 0)
        size.prepend(QLatin1Char('+'));
    if (fit.valid && fit.gain != 0)
        size = lsb(value / fit.gain) + QStringLiteral(" LSB (") + size + QLatin1Char(')');
    return field(QStringLiteral("Hysteresis")) +
           QStringLiteral("max %1 at code %2, up minus down, over %3 code%4 measured both ways\n")
               .arg(size)
               .arg(h.maximum.code)
               .arg(h.points.size())
               .arg(h.points.size() == 1 ? "" : "s");
}

QString limitLines(const LinearityReport &report)
{
    QString text;
    QStringList failed;
    for (const LimitCheck &check : report.checks) {
        const QString name = ReportLimits::name(check.limit.figure);
        const QString unit = ReportLimits::unit(check.limit.figure);
        const QString suffix = unit.isEmpty() ? QString() : QLatin1Char(' ') + unit;
        const QString value = std::isnan(check.value) ? QStringLiteral("undefined")
                                                      : (unit == QLatin1String("LSB")
                                                             ? lsb(check.value, false)
                                                             : ReportSummary::number(check.value)) +
                                                            suffix;
        text += field(QStringLiteral("Limit ") + name) +
                QStringLiteral("%1 %2 %3 %4%5\n")
                    .arg(check.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"), value,
                         check.pass ? QStringLiteral("<=") : QStringLiteral("over"),
                         ReportSummary::number(check.limit.maximum), suffix);
        if (!check.pass)
            failed.append(name);
    }
    if (!report.checks.isEmpty())
        text += field(QStringLiteral("Verdict")) +
                (failed.isEmpty()
                     ? QStringLiteral("PASS")
                     : QStringLiteral("FAIL (%1)").arg(failed.join(QStringLiteral(", ")))) +
                QLatin1Char('\n');
    return text;
}

} // namespace

QString ReportSummary::number(double value)
{
    if (std::isnan(value))
        return QStringLiteral("-");
    return QString::number(value, 'g', 6);
}

QString ReportSummary::codeList(const QVector<qint64> &codes, int limit)
{
    if (codes.isEmpty())
        return QStringLiteral("none");
    QStringList parts;
    for (qsizetype i = 0; i < codes.size() && i < limit; ++i)
        parts.append(QString::number(codes.at(i)));
    QString text = parts.join(QStringLiteral(", "));
    if (codes.size() > limit)
        text += QStringLiteral(" and %1 more").arg(codes.size() - limit);
    return text;
}

QString ReportSummary::text(const LinearityReport &report, const IdealLine &ideal)
{
    const LinearityResult &r = report.result;
    const QString unit = report.unit;
    QString text;
    text += QStringLiteral("Linearity of %1 (%2%3), %4\n")
                .arg(report.title.isEmpty() ? QStringLiteral("(no item)") : report.title,
                     report.quantity, unit.isEmpty() ? QString() : QStringLiteral(", ") + unit,
                     report.label);
    for (const ResultRun &run : report.runs)
        text += field(QStringLiteral("Run")) + runLine(run) + QLatin1Char('\n');
    if (ideal.lsb || ideal.offset) {
        text += QStringLiteral("  Ideal:               LSB %1, offset %2\n")
                    .arg(ideal.lsb ? withUnit(*ideal.lsb, unit) : QStringLiteral("-"),
                         withUnit(ideal.offset.value_or(0.0), unit));
    }
    const qint64 first = report.steps.isEmpty() ? 0 : report.steps.first().code;
    const qint64 last = report.steps.isEmpty() ? 0 : report.steps.last().code;
    text += QStringLiteral("  Codes:               %1 to %2, %3 with data, without data: %4\n")
                .arg(first)
                .arg(last)
                .arg(r.codesWithData)
                .arg(codeList(r.codesWithoutData));
    if (report.label == QLatin1String("all runs"))
        text += pooledLine(report);
    text += recordLines(report);
    text += QStringLiteral("  Readings:            %1 valid, %2 ERR, %3 invalid")
                .arg(r.validReadings)
                .arg(r.errReadings)
                .arg(r.invalidReadings);
    if (r.cutReadings > 0)
        text += QStringLiteral(", %1 cut (the last cell of a row without its line end, not "
                               "counted)")
                    .arg(r.cutReadings);
    text += QLatin1Char('\n');
    text += fitLines(QStringLiteral("Least-squares fit"), r.leastSquares, unit);
    text += fitLines(QStringLiteral("End-point fit"), r.endPoint, unit);
    text += extremeLine(QStringLiteral("INL (least squares)"), r.leastSquares.inlMax);
    text += extremeLine(QStringLiteral("INL (end point)"), r.endPoint.inlMax);
    text += extremeLine(QStringLiteral("DNL (least squares)"), r.leastSquares.dnlMax);
    text += extremeLine(QStringLiteral("DNL (end point)"), r.endPoint.dnlMax);
    QString monotonic = QStringLiteral("-");
    if (r.monotonic)
        monotonic = *r.monotonic ? QStringLiteral("yes")
                                 : QStringLiteral("no, output reverses at codes ") +
                                       codeList(r.nonMonotonicCodes);
    text += field(QStringLiteral("Monotonic")) + monotonic + QLatin1Char('\n');
    text += field(QStringLiteral("Missing codes")) +
            (r.missingCodesJudged > 0 || r.codesWithData < 2
                 ? codeList(r.missingCodes)
                 : QStringLiteral("- (no two adjacent codes with data to judge by)")) +
            QLatin1Char('\n');
    text += missingCodeLimit(r);
    text += weakMissingCodeTest(r);
    if (std::isnan(r.noise)) {
        text += QStringLiteral("  Noise:               - (no step with two or more readings)\n");
    } else {
        text += QStringLiteral("  Noise:               %1 pooled std dev (%2 LSB) over %3 steps\n")
                    .arg(withUnit(r.noise, unit), lsb(r.noiseLsb, false))
                    .arg(r.noiseSteps);
    }
    text += hysteresisLine(report);
    text += limitLines(report);
    return text;
}

QString ReportSummary::text(const ReportSet &set)
{
    QStringList blocks;
    for (const LinearityReport &report : set.reports)
        blocks.append(text(report, set.ideal));
    return blocks.join(QLatin1Char('\n'));
}
