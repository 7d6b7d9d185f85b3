#include "report/ReportLimits.h"

#include "report/ReportBuilder.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <limits>

namespace {

struct FigureName
{
    Limit::Figure figure;
    const char *name;
    const char *unit;
};

constexpr std::array<FigureName, 6> kFigures = {{
    {Limit::Inl, "inl", "LSB"},
    {Limit::Dnl, "dnl", "LSB"},
    {Limit::GainError, "gain-error", "%"},
    {Limit::OffsetError, "offset-error", "LSB"},
    {Limit::MissingCodes, "missing-codes", ""},
    {Limit::Noise, "noise", "LSB"},
}};

double magnitude(const std::optional<double> &value)
{
    return value ? std::fabs(*value) : std::numeric_limits<double>::quiet_NaN();
}

double figure(const LinearityReport &report, Limit::Figure which)
{
    const LinearityResult &r = report.result;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    switch (which) {
    case Limit::Inl:
        return r.leastSquares.inlMax.valid ? std::fabs(r.leastSquares.inlMax.value) : nan;
    case Limit::Dnl:
        return r.leastSquares.dnlMax.valid ? std::fabs(r.leastSquares.dnlMax.value) : nan;
    case Limit::GainError:
        return magnitude(r.leastSquares.gainErrorPercent);
    case Limit::OffsetError:
        return magnitude(r.leastSquares.offsetErrorLsb);
    case Limit::MissingCodes:
        return r.missingCodesJudged > 0 ? double(r.missingCodes.size()) : nan;
    case Limit::Noise:
        return r.noiseLsb;
    }
    return nan;
}

} // namespace

std::optional<Limit> ReportLimits::parse(const QString &text, QString *error)
{
    const QString name = text.section(QLatin1Char('='), 0, 0).trimmed();
    for (const FigureName &known : kFigures) {
        if (name != QLatin1String(known.name))
            continue;
        bool ok = false;
        const double maximum = QLocale::c().toDouble(text.section(QLatin1Char('='), 1), &ok);
        if (!text.contains(QLatin1Char('=')) || !ok || !std::isfinite(maximum) || maximum < 0) {
            *error = QStringLiteral("--limit %1 needs a number of 0 or more").arg(name);
            return std::nullopt;
        }
        return Limit{known.figure, maximum};
    }
    QStringList names;
    for (const FigureName &known : kFigures)
        names.append(QLatin1String(known.name));
    *error = QStringLiteral("unknown limit \"%1\" (known: %2)")
                 .arg(name, names.join(QStringLiteral(", ")));
    return std::nullopt;
}

QString ReportLimits::name(Limit::Figure figure)
{
    return QLatin1String(kFigures.at(figure).name);
}

QString ReportLimits::unit(Limit::Figure figure)
{
    return QLatin1String(kFigures.at(figure).unit);
}

bool ReportLimits::needsIdealLsb(Limit::Figure figure)
{
    return figure == Limit::GainError || figure == Limit::OffsetError;
}

QVector<LimitCheck> ReportLimits::check(const LinearityReport &report, const QVector<Limit> &limits)
{
    QVector<LimitCheck> checks;
    for (const Limit &limit : limits) {
        const double value = figure(report, limit.figure);
        checks.append({limit, value, !std::isnan(value) && value <= limit.maximum});
    }
    return checks;
}
