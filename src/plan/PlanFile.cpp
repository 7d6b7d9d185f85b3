#include "plan/PlanFile.h"

#include "plan/RunPlan.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <functional>
#include <map>

namespace {

using Setter = std::function<bool(const QString &value, const QString &origin,
                                  PlanSettings *settings, QString *error)>;

struct Key
{
    const char *section;
    const char *name;
    Setter set;
};

// Wraps a parser of one value type into a setter of one setting.
template <typename T, typename Parse> Setter setter(Setting<T> PlanSettings::*field, Parse parse)
{
    return [field, parse](const QString &value, const QString &origin, PlanSettings *settings,
                          QString *error) {
        T parsed{};
        if (!parse(value, &parsed, error))
            return false;
        (settings->*field).set(parsed, origin);
        return true;
    };
}

Setter text(Setting<QString> PlanSettings::*field)
{
    return setter(field, [](const QString &value, QString *out, QString *) {
        *out = value;
        return true;
    });
}

Setter integer(Setting<qint64> PlanSettings::*field)
{
    return setter(field, &PlanValues::parseInteger);
}

Setter positive(Setting<double> PlanSettings::*field)
{
    return setter(field, &PlanValues::parsePositive);
}

const std::vector<Key> &keys()
{
    static const std::vector<Key> table = {
        {"test", "kind", setter(&PlanSettings::test, &RunPlan::parseTest)},
        {"test", "item", text(&PlanSettings::item)},
        {"test", "tester", text(&PlanSettings::tester)},
        {"sweep", "codes",
         setter(&PlanSettings::codes,
                [](const QString &value, QString *out, QString *error) {
                    *out = value;
                    return SweepPlan::checkCodes(value, error);
                })},
        {"sweep", "steps", integer(&PlanSettings::steps)},
        {"sweep", "direction", setter(&PlanSettings::direction, &SweepPlan::parseDirection)},
        {"sweep", "repeat", integer(&PlanSettings::repeat)},
        {"sweep", "order", setter(&PlanSettings::order, &SweepPlan::parseOrder)},
        {"sweep", "seed", setter(&PlanSettings::seed, &PlanValues::parseSeed)},
        {"timing", "settle-ms", integer(&PlanSettings::settleMs)},
        {"timing", "readings", integer(&PlanSettings::readingsPerStep)},
        {"timing", "interval-ms", integer(&PlanSettings::readingIntervalMs)},
        {"meter", "resource", text(&PlanSettings::meterResource)},
        {"meter", "expect-idn", text(&PlanSettings::expectIdn)},
        {"meter", "function", setter(&PlanSettings::function, &MeterSetup::parseFunction)},
        {"meter", "range", setter(&PlanSettings::range, &MeterSetup::parseRange)},
        {"meter", "nplc", setter(&PlanSettings::nplc, &MeterSetup::parseNplc)},
        {"meter", "autozero", setter(&PlanSettings::autozero, &MeterSetup::parseAutozero)},
        {"meter", "impedance", setter(&PlanSettings::impedance, &MeterSetup::parseImpedance)},
        {"board", "serial", text(&PlanSettings::serialPort)},
        {"supply", "resource", text(&PlanSettings::supplyResource)},
        {"supply", "channel", integer(&PlanSettings::supplyChannel)},
        {"supply", "voltage", positive(&PlanSettings::supplyVoltage)},
        {"supply", "current-limit", positive(&PlanSettings::supplyCurrentLimit)},
        {"supply", "read-current",
         setter(&PlanSettings::supplyReadsCurrent, &PlanValues::parseYesNo)},
    };
    return table;
}

QStringList namesIn(const QString &section)
{
    QStringList names;
    for (const Key &key : keys()) {
        if (section == QLatin1String(key.section))
            names << QLatin1String(key.name);
    }
    return names;
}

QStringList sections()
{
    QStringList names;
    for (const Key &key : keys()) {
        if (!names.contains(QLatin1String(key.section)))
            names << QLatin1String(key.section);
    }
    return names;
}

const Key *findKey(const QString &section, const QString &name)
{
    for (const Key &key : keys()) {
        if (section == QLatin1String(key.section) && name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

} // namespace

bool PlanFile::read(const QString &path, PlanSettings *settings, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read the plan: %2").arg(path, file.errorString());
        return false;
    }
    // One byte more than allowed tells a file that is too large.
    const QByteArray text = file.read(kMaxBytes + 1);
    if (text.size() > kMaxBytes) {
        *error = QStringLiteral("%1: larger than %2 KiB: not a plan file")
                     .arg(path)
                     .arg(kMaxBytes / 1024);
        return false;
    }
    return parse(text, path, settings, error);
}

bool PlanFile::parse(const QByteArray &text, const QString &name, PlanSettings *settings,
                     QString *error)
{
    static const QRegularExpression sectionLine(QStringLiteral("^\\[\\s*([^\\]]*?)\\s*\\]$"));
    PlanSettings read;
    QString section;
    std::map<QString, qint64> seen; // "section" or "section/key" -> line
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qint64 number = i + 1;
        const QString origin = QStringLiteral("%1:%2").arg(name).arg(number);
        auto fail = [&](const QString &message) {
            *error = origin + QStringLiteral(": ") + message;
            return false;
        };
        QByteArray bytes = lines.at(i);
        if (i == 0 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        if (bytes.contains('\0'))
            return fail(QStringLiteral("binary data (a NUL byte): not a plan file"));
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = QString(utf8(bytes)).trimmed();
        if (utf8.hasError())
            return fail(QStringLiteral("not UTF-8 text"));
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;

        const QRegularExpressionMatch header = sectionLine.match(line);
        if (header.hasMatch()) {
            section = header.captured(1);
            if (!sections().contains(section))
                return fail(QStringLiteral("unknown section [%1] (known: %2)")
                                .arg(section, sections().join(QStringLiteral(", "))));
            if (seen.count(section))
                return fail(QStringLiteral("section [%1] again (it began on line %2)")
                                .arg(section)
                                .arg(seen[section]));
            seen[section] = number;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(QStringLiteral("'%1' is neither [section] nor key = value").arg(line));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (section.isEmpty())
            return fail(QStringLiteral("'%1' before the first [section]").arg(key));
        const Key *known = findKey(section, key);
        if (!known)
            return fail(QStringLiteral("unknown key '%1' in [%2] (known: %3)")
                            .arg(key, section, namesIn(section).join(QStringLiteral(", "))));
        const QString path = section + QLatin1Char('/') + key;
        if (seen.count(path))
            return fail(
                QStringLiteral("'%1' is set again (first on line %2)").arg(key).arg(seen[path]));
        seen[path] = number;
        if (value.isEmpty())
            return fail(QStringLiteral("'%1' has no value").arg(key));
        QString message;
        if (!known->set(value, origin, &read, &message))
            return fail(key + QStringLiteral(": ") + message);
    }
    if (read.codes && read.steps) {
        *error = QStringLiteral("%1: codes and steps both choose the sweep; keep one (steps on "
                                "%2)")
                     .arg(read.codes.origin, read.steps.origin);
        return false;
    }
    *settings = read;
    return true;
}

QString PlanFile::write(const RunPlan &plan)
{
    QString out;
    auto line = [&out](const char *key, const QString &value) {
        out += QLatin1String(key) + QStringLiteral(" = ") + value + QLatin1Char('\n');
    };
    auto section = [&out](const char *name) {
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        out += QStringLiteral("[%1]\n").arg(QLatin1String(name));
    };

    section("test");
    line("kind", RunPlan::name(plan.test));
    if (!plan.item.isEmpty())
        line("item", plan.item);
    if (!plan.tester.isEmpty())
        line("tester", plan.tester);

    const SweepPlan::Definition &sweep = plan.sweep.definition();
    section("sweep");
    if (sweep.codes.isEmpty())
        line("steps", QString::number(sweep.steps));
    else
        line("codes", sweep.codes);
    line("direction", SweepPlan::name(sweep.direction));
    line("repeat", QString::number(sweep.repeat));
    line("order", SweepPlan::name(sweep.order));
    if (sweep.order == SweepPlan::Order::Shuffled)
        line("seed", QString::number(sweep.seed));

    section("timing");
    line("settle-ms", QString::number(plan.settleMs));
    line("readings", QString::number(plan.readingsPerStep));
    line("interval-ms", QString::number(plan.readingIntervalMs));

    const MeterSetup &meter = plan.meter;
    section("meter");
    if (!plan.meterResource.isEmpty())
        line("resource", plan.meterResource);
    if (!plan.expectIdn.isEmpty())
        line("expect-idn", plan.expectIdn);
    line("function", MeterSetup::name(meter.function()));
    line("range", meter.range() ? MeterSetup::numberText(*meter.range()) : QStringLiteral("auto"));
    line("nplc", MeterSetup::numberText(meter.nplc()));
    if (meter.autozero() != MeterSetup::Autozero::Unset)
        line("autozero", MeterSetup::name(meter.autozero()));
    if (meter.function() == MeterSetup::Function::Voltage)
        line("impedance", MeterSetup::name(meter.impedance()));

    if (!plan.serialPort.isEmpty()) {
        section("board");
        line("serial", plan.serialPort);
    }
    if (plan.supply) {
        section("supply");
        line("resource", plan.supply->resource);
        line("channel", QString::number(plan.supply->channel));
        line("voltage", MeterSetup::numberText(plan.supply->voltage));
        line("current-limit", MeterSetup::numberText(plan.supply->currentLimit));
        line("read-current",
             plan.supply->readsCurrent ? QStringLiteral("yes") : QStringLiteral("no"));
    }
    return out;
}
