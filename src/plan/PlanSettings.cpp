#include "plan/PlanSettings.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <limits>

void PlanSettings::override(const PlanSettings &over)
{
    if (over.codes || over.steps) {
        codes = over.codes;
        steps = over.steps;
    }
    // A sequential order takes no seed; a shuffled one keeps an earlier seed
    // unless it brings its own.
    if (over.order && *over.order == SweepPlan::Order::Sequential)
        seed.reset();
    test.take(over.test);
    item.take(over.item);
    tester.take(over.tester);
    direction.take(over.direction);
    repeat.take(over.repeat);
    order.take(over.order);
    seed.take(over.seed);
    settleMs.take(over.settleMs);
    readingsPerStep.take(over.readingsPerStep);
    readingIntervalMs.take(over.readingIntervalMs);
    meterResource.take(over.meterResource);
    expectIdn.take(over.expectIdn);
    function.take(over.function);
    range.take(over.range);
    nplc.take(over.nplc);
    autozero.take(over.autozero);
    impedance.take(over.impedance);
    serialPort.take(over.serialPort);
    supplyResource.take(over.supplyResource);
    supplyChannel.take(over.supplyChannel);
    supplyVoltage.take(over.supplyVoltage);
    supplyCurrentLimit.take(over.supplyCurrentLimit);
    supplyReadsCurrent.take(over.supplyReadsCurrent);
}

namespace PlanValues {

bool parseInteger(const QString &text, qint64 *value, QString *error)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    if (integer.match(text).hasMatch())
        *value = text.toLongLong(&ok, 10);
    if (!ok)
        *error = QStringLiteral("'%1' is not a whole number of at most 64 bits").arg(text);
    return ok;
}

bool parseSeed(const QString &text, quint64 *value, QString *error)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    if (digits.match(text).hasMatch())
        *value = text.toULongLong(&ok, 10);
    if (!ok)
        *error = QStringLiteral("'%1' is no seed (a whole number from 0 to %2)")
                     .arg(text)
                     .arg(std::numeric_limits<quint64>::max());
    return ok;
}

bool parsePositive(const QString &text, double *value, QString *error)
{
    static const QRegularExpression number(
        QStringLiteral("^[+]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    bool ok = false;
    if (number.match(text).hasMatch())
        *value = QLocale::c().toDouble(text, &ok);
    ok = ok && std::isfinite(*value) && *value > 0;
    if (!ok)
        *error = QStringLiteral("'%1' is not a number above 0").arg(text);
    return ok;
}

bool parseYesNo(const QString &text, bool *value, QString *error)
{
    const QString word = text.toLower();
    if (word == QLatin1String("yes") || word == QLatin1String("true")) {
        *value = true;
        return true;
    }
    if (word == QLatin1String("no") || word == QLatin1String("false")) {
        *value = false;
        return true;
    }
    *error = QStringLiteral("'%1' is not yes or no").arg(text);
    return false;
}

} // namespace PlanValues
