#include "database/RunFigures.h"

#include "report/LinearityAnalysis.h"

#include <cmath>

namespace {

QJsonValue numberOrNull(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

} // namespace

void RunFigures::add(const ResultRow &row)
{
    statistics.add(row);
    ++rowCount;
}

void RunFigures::add(qint64 code, const QStringList &cells)
{
    std::vector<QByteArray> bytes;
    bytes.reserve(size_t(cells.size()));
    ResultRow row;
    row.code = code;
    for (const QString &cell : cells) {
        bytes.push_back(cell.toUtf8());
        row.readings.push_back(bytes.back());
    }
    add(row);
}

QJsonObject RunFigures::toJson() const
{
    const LinearityResult result = LinearityAnalysis::analyse(statistics.steps(), IdealLine());
    const FitFigures &fit = result.leastSquares;
    QJsonObject figures{{QStringLiteral("rows"), rowCount},
                        {QStringLiteral("codesWithData"), result.codesWithData}};
    if (fit.line.valid) {
        figures.insert(QStringLiteral("gain"), numberOrNull(fit.line.gain));
        figures.insert(QStringLiteral("offset"), numberOrNull(fit.line.offset));
        figures.insert(QStringLiteral("inlMaxLsb"),
                       fit.inlMax.valid ? numberOrNull(fit.inlMax.value) : QJsonValue());
        figures.insert(QStringLiteral("dnlMaxLsb"),
                       fit.dnlMax.valid ? numberOrNull(fit.dnlMax.value) : QJsonValue());
        figures.insert(QStringLiteral("missingCodes"), result.missingCodes.size());
    }
    figures.insert(QStringLiteral("noiseLsb"), numberOrNull(result.noiseLsb));
    return figures;
}
