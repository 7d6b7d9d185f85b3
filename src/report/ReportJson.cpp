#include "report/ReportJson.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace {

QJsonValue number(double value)
{
    return std::isnan(value) ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

QJsonValue optional(const std::optional<double> &value)
{
    return value ? number(*value) : QJsonValue(QJsonValue::Null);
}

QJsonArray codes(const QVector<qint64> &list, bool all)
{
    QJsonArray array;
    for (qsizetype i = 0; i < list.size() && (all || i < ReportJson::kCodeListLimit); ++i)
        array.append(list.at(i));
    return array;
}

QJsonArray limits(const QVector<LimitCheck> &checks)
{
    QJsonArray array;
    for (const LimitCheck &check : checks) {
        array.append(QJsonObject{
            {QStringLiteral("name"), ReportLimits::name(check.limit.figure)},
            {QStringLiteral("limit"), check.limit.maximum},
            {QStringLiteral("value"), number(check.value)},
            {QStringLiteral("unit"), ReportLimits::unit(check.limit.figure)},
            {QStringLiteral("pass"), check.pass},
        });
    }
    return array;
}

QJsonValue verdict(bool judged, bool pass)
{
    if (!judged)
        return QJsonValue::Null;
    return pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

QJsonValue extreme(const Extreme &e)
{
    if (!e.valid)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("value"), e.value}, {QStringLiteral("code"), e.code}};
}

QJsonObject fit(const FitFigures &f)
{
    const bool valid = f.line.valid;
    return QJsonObject{
        {QStringLiteral("gain"), valid ? QJsonValue(f.line.gain) : QJsonValue::Null},
        {QStringLiteral("offset"), valid ? QJsonValue(f.line.offset) : QJsonValue::Null},
        {QStringLiteral("gainError"), optional(f.gainError)},
        {QStringLiteral("gainErrorPercent"), optional(f.gainErrorPercent)},
        {QStringLiteral("offsetError"), optional(f.offsetError)},
        {QStringLiteral("offsetErrorLsb"), optional(f.offsetErrorLsb)},
        {QStringLiteral("inlMax"), extreme(f.inlMax)},
        {QStringLiteral("dnlMax"), extreme(f.dnlMax)},
    };
}

// Null unless some code was measured on the way up and on the way down.
QJsonValue hysteresis(const LinearityReport &rep)
{
    const HysteresisResult &h = rep.hysteresis;
    if (!h.sweptBothWays())
        return QJsonValue::Null;
    const LineFit &fit = rep.result.leastSquares.line;
    const bool inLsb = fit.valid && fit.gain != 0;
    return QJsonObject{
        {QStringLiteral("codes"), qint64(h.points.size())},
        {QStringLiteral("max"),
         QJsonObject{{QStringLiteral("value"), h.maximum.value},
                     {QStringLiteral("lsb"), inLsb ? QJsonValue(h.maximum.value / fit.gain)
                                                   : QJsonValue(QJsonValue::Null)},
                     {QStringLiteral("code"), h.maximum.code}}},
    };
}

QJsonObject run(const ResultRun &r)
{
    return QJsonObject{
        {QStringLiteral("file"), r.file},
        {QStringLiteral("run"), r.index},
        {QStringLiteral("testName"), r.testName},
        {QStringLiteral("testItem"), r.testItem},
        {QStringLiteral("tester"), r.tester},
        {QStringLiteral("startTime"), r.startTime},
        {QStringLiteral("finishTime"),
         r.finished ? QJsonValue(r.finishTime) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("quantity"), r.quantity},
        {QStringLiteral("readingColumns"), int(r.dmmColumns.size())},
        {QStringLiteral("rows"), r.rows},
        {QStringLiteral("finished"), r.finished},
    };
}

QJsonObject report(const LinearityReport &rep, const QStringList &plots, bool perCode)
{
    const LinearityResult &r = rep.result;
    QJsonArray runs;
    for (const ResultRun &rr : rep.runs)
        runs.append(run(rr));

    QJsonArray steps;
    for (qsizetype i = 0; perCode && i < rep.steps.size(); ++i) {
        const StepStats &s = rep.steps.at(i);
        steps.append(QJsonObject{
            {QStringLiteral("code"), s.code},
            {QStringLiteral("count"), s.count},
            {QStringLiteral("err"), s.errCount},
            {QStringLiteral("invalid"), s.invalidCount},
            {QStringLiteral("cut"), s.cutCount},
            {QStringLiteral("mean"), number(s.mean)},
            {QStringLiteral("stdDev"), number(s.stdDev)},
            {QStringLiteral("min"), number(s.min)},
            {QStringLiteral("max"), number(s.max)},
            {QStringLiteral("inlLeastSquares"), number(r.leastSquares.inl.at(i))},
            {QStringLiteral("inlEndPoint"), number(r.endPoint.inl.at(i))},
            {QStringLiteral("dnlLeastSquares"), number(r.leastSquares.dnl.at(i))},
            {QStringLiteral("dnlEndPoint"), number(r.endPoint.dnl.at(i))},
            {QStringLiteral("dnlStdError"), number(r.dnlStdError.at(i))},
            {QStringLiteral("hysteresis"), number(rep.hysteresis.differenceAt(s.code))},
        });
    }

    QJsonObject object{
        {QStringLiteral("label"), rep.label},
        {QStringLiteral("title"), rep.title},
        {QStringLiteral("quantity"), rep.quantity},
        {QStringLiteral("unit"), rep.unit},
        {QStringLiteral("runs"), runs},
        {QStringLiteral("codesWithData"), r.codesWithData},
        {QStringLiteral("codesWithoutData"), codes(r.codesWithoutData, perCode)},
        {QStringLiteral("codesWithoutDataCount"), qint64(r.codesWithoutData.size())},
        {QStringLiteral("readings"), QJsonObject{{QStringLiteral("valid"), r.validReadings},
                                                 {QStringLiteral("err"), r.errReadings},
                                                 {QStringLiteral("invalid"), r.invalidReadings},
                                                 {QStringLiteral("cut"), r.cutReadings}}},
        {QStringLiteral("leastSquares"), fit(r.leastSquares)},
        {QStringLiteral("endPoint"), fit(r.endPoint)},
        {QStringLiteral("monotonic"),
         r.monotonic ? QJsonValue(*r.monotonic) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("nonMonotonicCodes"), codes(r.nonMonotonicCodes, perCode)},
        {QStringLiteral("nonMonotonicCodeCount"), qint64(r.nonMonotonicCodes.size())},
        {QStringLiteral("missingCodes"), codes(r.missingCodes, perCode)},
        {QStringLiteral("missingCodeCount"), qint64(r.missingCodes.size())},
        {QStringLiteral("missingCodesJudged"), r.missingCodesJudged},
        {QStringLiteral("hysteresis"), hysteresis(rep)},
        {QStringLiteral("expectedFalseMissingCodes"), r.expectedFalseMissing},
        {QStringLiteral("noise"),
         QJsonObject{{QStringLiteral("pooledStdDev"), number(r.noise)},
                     {QStringLiteral("lsb"), number(r.noiseLsb)},
                     {QStringLiteral("steps"), r.noiseSteps},
                     {QStringLiteral("degreesOfFreedom"), r.noiseDegreesOfFreedom}}},
        {QStringLiteral("plots"), QJsonArray::fromStringList(plots)},
        {QStringLiteral("limits"), limits(rep.checks)},
        {QStringLiteral("verdict"), verdict(!rep.checks.isEmpty(), rep.passes())},
    };
    if (perCode)
        object.insert(QStringLiteral("steps"), steps);
    return object;
}

} // namespace

QJsonObject ReportJson::object(const ReportSet &set, const Options &options)
{
    QJsonArray reports;
    for (qsizetype i = 0; i < set.reports.size(); ++i)
        reports.append(report(set.reports.at(i), options.plots.value(i), options.perCode));
    QJsonArray files;
    for (const ResultFile &file : set.files) {
        files.append(QJsonObject{{QStringLiteral("path"), file.path},
                                 {QStringLiteral("encoding"), file.encoding},
                                 {QStringLiteral("runs"), int(file.runs.size())}});
    }
    return QJsonObject{
        {QStringLiteral("schemaVersion"), kSchemaVersion},
        {QStringLiteral("ideal"),
         QJsonObject{{QStringLiteral("lsb"), optional(set.ideal.lsb)},
                     {QStringLiteral("offset"), optional(set.ideal.offset)}}},
        {QStringLiteral("files"), files},
        {QStringLiteral("warnings"), QJsonArray::fromStringList(set.warnings)},
        {QStringLiteral("reports"), reports},
        {QStringLiteral("verdict"), verdict(!set.limits.isEmpty(), set.passes())},
    };
}

QByteArray ReportJson::document(const ReportSet &set, const Options &options)
{
    return QJsonDocument(object(set, options)).toJson(QJsonDocument::Indented);
}
