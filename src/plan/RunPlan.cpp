#include "plan/RunPlan.h"

#include <QJsonValue>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// "origin, origin: message", each origin once, the unset ones left out.
QString located(const QStringList &origins, const QString &message)
{
    QStringList named;
    for (const QString &origin : origins) {
        if (!origin.isEmpty() && !named.contains(origin))
            named << origin;
    }
    return named.isEmpty() ? message
                           : named.join(QStringLiteral(", ")) + QStringLiteral(": ") + message;
}

bool checkWait(const QString &what, qint64 ms, QString *error)
{
    if (ms >= 0 && ms <= RunPlan::kMaxWaitMs)
        return true;
    *error = QStringLiteral("%1 %2 ms is not between 0 and %3")
                 .arg(what)
                 .arg(ms)
                 .arg(RunPlan::kMaxWaitMs);
    return false;
}

bool checkReadings(qint64 readings, QString *error)
{
    if (readings >= 1 && readings <= RunPlan::kMaxReadingsPerStep)
        return true;
    *error = QStringLiteral("%1 readings a step is not between 1 and %2")
                 .arg(readings)
                 .arg(RunPlan::kMaxReadingsPerStep);
    return false;
}

// Names go into the result file's head block and its name, one line each.
bool checkName(const QString &what, const QString &text, QString *error)
{
    const bool control = std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7f;
    });
    if (!control)
        return true;
    *error = QStringLiteral("the %1 holds a line break or another control character").arg(what);
    return false;
}

bool checkPattern(const QString &pattern, QString *error)
{
    const QRegularExpression expression(pattern);
    if (expression.isValid())
        return true;
    *error =
        QStringLiteral("'%1' is no regular expression: %2").arg(pattern, expression.errorString());
    return false;
}

bool checkSupply(const SupplyPlan &supply, QString *error)
{
    if (supply.channel != 1 && supply.channel != 2) {
        *error = QStringLiteral("supply channel %1 is not 1 or 2").arg(supply.channel);
        return false;
    }
    if (!(supply.voltage > 0 && supply.voltage <= SupplyPlan::kMaxVoltage)) {
        *error = QStringLiteral("supply voltage %1 V is not above 0 and at most %2 V")
                     .arg(MeterSetup::numberText(supply.voltage))
                     .arg(SupplyPlan::kMaxVoltage);
        return false;
    }
    if (!(supply.currentLimit > 0 && supply.currentLimit <= SupplyPlan::kMaxCurrent)) {
        *error = QStringLiteral("supply current limit %1 A is not above 0 and at most %2 A")
                     .arg(MeterSetup::numberText(supply.currentLimit))
                     .arg(SupplyPlan::kMaxCurrent);
        return false;
    }
    return true;
}

qint64 digits(qint64 value)
{
    return QString::number(value).size();
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QJsonObject SupplyPlan::toJson() const
{
    return QJsonObject{{QStringLiteral("resource"), resource},
                       {QStringLiteral("channel"), channel},
                       {QStringLiteral("voltage"), voltage},
                       {QStringLiteral("currentLimit"), currentLimit},
                       {QStringLiteral("readsCurrent"), readsCurrent}};
}

QString RunPlan::name(TestChoice test)
{
    return test == TestChoice::Isink ? QStringLiteral("isink") : QStringLiteral("dac");
}

bool RunPlan::parseTest(const QString &text, TestChoice *test, QString *error)
{
    const QString word = text.toLower();
    if (word == QLatin1String("dac") || word == QLatin1String("isink")) {
        *test = word == QLatin1String("dac") ? TestChoice::Dac : TestChoice::Isink;
        return true;
    }
    *error = QStringLiteral("'%1' is no test (dac or isink)").arg(text);
    return false;
}

MeterSetup::Function RunPlan::functionOf(TestChoice test)
{
    return test == TestChoice::Isink ? MeterSetup::Function::Current
                                     : MeterSetup::Function::Voltage;
}

bool RunPlan::resolve(const PlanSettings &s, RunPlan *plan, QString *error)
{
    RunPlan p;
    QString message;

    // The test names the file's column and the report's unit: the meter must
    // measure what it says.
    if (s.test)
        p.test = *s.test;
    else if (s.function)
        p.test = *s.function == MeterSetup::Function::Current ? TestChoice::Isink : TestChoice::Dac;
    const MeterSetup::Function function = s.function ? *s.function : functionOf(p.test);
    if (function != functionOf(p.test)) {
        *error = located({s.function.origin, s.test.origin},
                         QStringLiteral("function %1 does not measure what the %2 test records")
                             .arg(MeterSetup::name(function), name(p.test)));
        return false;
    }
    p.meter = MeterSetup::defaults(function);
    if (s.range)
        p.meter.setRange(*s.range);
    if (s.nplc)
        p.meter.setNplc(*s.nplc);
    if (s.autozero)
        p.meter.setAutozero(*s.autozero);
    if (s.impedance)
        p.meter.setImpedance(*s.impedance);
    if (!p.meter.validate(&message)) {
        *error = located(
            {s.impedance.origin, s.range.origin, s.nplc.origin, s.function.origin, s.test.origin},
            message);
        return false;
    }

    SweepPlan::Definition definition;
    if (s.codes)
        definition.codes = *s.codes;
    definition.steps = s.steps ? *s.steps : kDefaultSteps;
    definition.direction = s.direction ? *s.direction : SweepPlan::Direction::Up;
    definition.repeat = s.repeat ? *s.repeat : 1;
    definition.order = s.order ? *s.order : SweepPlan::Order::Sequential;
    if (s.seed && definition.order == SweepPlan::Order::Sequential) {
        *error =
            located({s.seed.origin}, QStringLiteral("a seed applies to a shuffled order only"));
        return false;
    }
    if (!s.seed && definition.order == SweepPlan::Order::Shuffled) {
        *error = located({s.order.origin}, QStringLiteral("a shuffled order needs its seed"));
        return false;
    }
    definition.seed = s.seed ? *s.seed : 0;
    if (!SweepPlan::build(definition, &p.sweep, &message)) {
        *error = located(
            {s.codes.origin, s.steps.origin, s.direction.origin, s.repeat.origin, s.order.origin},
            message);
        return false;
    }

    p.settleMs = s.settleMs ? *s.settleMs : kDefaultSettleMs;
    p.readingsPerStep = s.readingsPerStep ? *s.readingsPerStep : kDefaultReadingsPerStep;
    p.readingIntervalMs = s.readingIntervalMs ? *s.readingIntervalMs : kDefaultReadingIntervalMs;
    if (!checkWait(QStringLiteral("settle time"), p.settleMs, &message)) {
        *error = located({s.settleMs.origin}, message);
        return false;
    }
    if (!checkReadings(p.readingsPerStep, &message)) {
        *error = located({s.readingsPerStep.origin}, message);
        return false;
    }
    if (!checkWait(QStringLiteral("reading interval"), p.readingIntervalMs, &message)) {
        *error = located({s.readingIntervalMs.origin}, message);
        return false;
    }

    p.item = s.item ? *s.item : QString();
    p.tester = s.tester ? *s.tester : QString();
    if (!checkName(QStringLiteral("item"), p.item, &message)) {
        *error = located({s.item.origin}, message);
        return false;
    }
    if (!checkName(QStringLiteral("tester"), p.tester, &message)) {
        *error = located({s.tester.origin}, message);
        return false;
    }
    p.meterResource = s.meterResource ? *s.meterResource : QString();
    p.expectIdn = s.expectIdn ? *s.expectIdn : QString();
    if (!checkPattern(p.expectIdn, &message)) {
        *error = located({s.expectIdn.origin}, message);
        return false;
    }
    p.serialPort = s.serialPort ? *s.serialPort : QString();

    const bool supplySettings =
        s.supplyChannel || s.supplyVoltage || s.supplyCurrentLimit || s.supplyReadsCurrent;
    if (s.supplyResource) {
        if (!s.supplyVoltage || !s.supplyCurrentLimit) {
            *error = located({s.supplyResource.origin},
                             QStringLiteral("a supply needs its voltage and current limit"));
            return false;
        }
        SupplyPlan supply;
        supply.resource = *s.supplyResource;
        supply.channel = s.supplyChannel ? *s.supplyChannel : 1;
        supply.voltage = *s.supplyVoltage;
        supply.currentLimit = *s.supplyCurrentLimit;
        supply.readsCurrent = s.supplyReadsCurrent && *s.supplyReadsCurrent;
        if (!checkSupply(supply, &message)) {
            *error = located(
                {s.supplyChannel.origin, s.supplyVoltage.origin, s.supplyCurrentLimit.origin},
                message);
            return false;
        }
        p.supply = supply;
    } else if (supplySettings) {
        *error = located({s.supplyChannel.origin, s.supplyVoltage.origin,
                          s.supplyCurrentLimit.origin, s.supplyReadsCurrent.origin},
                         QStringLiteral("supply settings without a supply resource"));
        return false;
    }

    if (!p.validate(error))
        return false;
    *plan = std::move(p);
    return true;
}

bool RunPlan::validate(QString *error) const
{
    if (meter.function() != functionOf(test)) {
        *error = QStringLiteral("function %1 does not measure what the %2 test records")
                     .arg(MeterSetup::name(meter.function()), name(test));
        return false;
    }
    return meter.validate(error) && checkWait(QStringLiteral("settle time"), settleMs, error) &&
           checkReadings(readingsPerStep, error) &&
           checkWait(QStringLiteral("reading interval"), readingIntervalMs, error) &&
           checkName(QStringLiteral("item"), item, error) &&
           checkName(QStringLiteral("tester"), tester, error) && checkPattern(expectIdn, error) &&
           (!supply || checkSupply(*supply, error));
}

qint64 RunPlan::estimatedDurationMs() const
{
    const double steps = double(sweep.count());
    const double readings = double(readingsPerStep);
    const double perStep = double(settleMs) + readings * meter.readingSeconds() * 1000.0 +
                           (readings - 1) * double(readingIntervalMs);
    const double total = double(kFirstStepMs) + steps * perStep + (steps - 1) * kBetweenStepsMs;
    return total >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(std::ceil(total));
}

qint64 RunPlan::estimatedFileBytes() const
{
    const qint64 steps = sweep.count();
    // Four labelled lines with the test's title and the names, then an empty line.
    const qint64 head = 256 + item.toUtf8().size() + tester.toUtf8().size();
    const qint64 heading = 16 + readingsPerStep * (5 + digits(readingsPerStep));
    // The step number, the code with its sign, the readings, the line end.
    const qint64 row = digits(steps) + 1 + 11 + readingsPerStep * kBytesPerReading + 1;
    const qint64 end = 64;
    return head + heading + steps * row + end + kRecordBytes;
}

QJsonObject RunPlan::toJson() const
{
    return QJsonObject{
        {QStringLiteral("test"), name(test)},
        {QStringLiteral("item"), textOrNull(item)},
        {QStringLiteral("tester"), textOrNull(tester)},
        {QStringLiteral("sweep"), sweep.toJson()},
        {QStringLiteral("timing"),
         QJsonObject{{QStringLiteral("settleMs"), settleMs},
                     {QStringLiteral("readingsPerStep"), readingsPerStep},
                     {QStringLiteral("readingIntervalMs"), readingIntervalMs}}},
        {QStringLiteral("meter"),
         QJsonObject{{QStringLiteral("resource"), textOrNull(meterResource)},
                     {QStringLiteral("expectIdn"), textOrNull(expectIdn)},
                     {QStringLiteral("setup"), meter.toJson()}}},
        {QStringLiteral("serialPort"), textOrNull(serialPort)},
        {QStringLiteral("supply"), supply ? QJsonValue(supply->toJson()) : QJsonValue()},
        {QStringLiteral("estimate"),
         QJsonObject{{QStringLiteral("durationMs"), estimatedDurationMs()},
                     {QStringLiteral("fileBytes"), estimatedFileBytes()}}},
    };
}
