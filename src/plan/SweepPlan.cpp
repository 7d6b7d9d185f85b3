#include "plan/SweepPlan.h"

#include "plan/Shuffle.h"

#include <QJsonValue>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kCodeMin = std::numeric_limits<qint32>::min();
constexpr qint64 kCodeMax = std::numeric_limits<qint32>::max();

// A code as written: decimal, with an optional sign, within 32 bits.
bool parseCode(const QString &text, qint64 *code, QString *error)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!integer.match(text).hasMatch()) {
        *error = QStringLiteral("'%1' is not a code").arg(text);
        return false;
    }
    bool ok = false;
    *code = text.toLongLong(&ok, 10);
    if (!ok || *code < kCodeMin || *code > kCodeMax) {
        *error = QStringLiteral("'%1' does not fit a 32-bit code (%2 to %3)")
                     .arg(text)
                     .arg(kCodeMin)
                     .arg(kCodeMax);
        return false;
    }
    return true;
}

} // namespace

bool SweepPlan::Definition::operator==(const Definition &other) const
{
    return codes == other.codes && steps == other.steps && direction == other.direction &&
           repeat == other.repeat && order == other.order && seed == other.seed;
}

SweepPlan::SweepPlan()
    : m_ranges{Range{1, 1, m_definition.steps, 0}}, m_listLength(m_definition.steps),
      m_passLength(m_definition.steps), m_count(m_definition.steps)
{}

SweepPlan SweepPlan::counting(qint64 steps)
{
    Definition definition;
    definition.steps = steps;
    SweepPlan plan;
    const bool built = build(definition, &plan, nullptr);
    Q_ASSERT(built);
    return plan;
}

bool SweepPlan::parseList(const QString &text, std::vector<Range> *ranges, QString *error)
{
    QString message;
    QString *out = error ? error : &message;
    ranges->clear();
    qint64 length = 0;
    for (const QString &rawItem : text.split(QLatin1Char(','))) {
        const QString item = rawItem.trimmed();
        const QStringList parts = item.split(QLatin1Char(':'));
        if (item.isEmpty() || parts.size() > 3 ||
            std::any_of(parts.begin(), parts.end(),
                        [](const QString &part) { return part.trimmed().isEmpty(); })) {
            *out = item.isEmpty() ? QStringLiteral("'%1' has an empty item").arg(text)
                                  : QStringLiteral("'%1' is not a code or a range "
                                                   "START:STOP[:STEP]")
                                        .arg(item);
            return false;
        }
        qint64 values[3] = {0, 0, 1};
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (!parseCode(parts.at(i).trimmed(), &values[i], out))
                return false;
        }
        Range range;
        range.first = values[0];
        if (parts.size() == 1) {
            range.count = 1;
        } else {
            const qint64 stop = values[1];
            const qint64 step = values[2];
            if (step < 1) {
                *out = QStringLiteral("'%1': the step must be 1 or more (a range runs down "
                                      "when START is above STOP)")
                           .arg(item);
                return false;
            }
            // Ends at the last code on the step's grid that does not pass STOP.
            range.count = std::abs(stop - range.first) / step + 1;
            range.step = stop >= range.first ? step : -step;
        }
        range.index = length;
        length += range.count;
        if (length > kMaxSteps) {
            *out = QStringLiteral("'%1' holds more than %2 codes").arg(text).arg(kMaxSteps);
            return false;
        }
        ranges->push_back(range);
    }
    return true;
}

bool SweepPlan::checkCodes(const QString &codes, QString *error)
{
    std::vector<Range> ranges;
    return parseList(codes, &ranges, error);
}

bool SweepPlan::build(const Definition &definition, SweepPlan *plan, QString *error)
{
    QString message;
    QString *out = error ? error : &message;
    SweepPlan built;
    built.m_definition = definition;
    if (definition.codes.isEmpty()) {
        if (definition.steps < 1 || definition.steps > kMaxSteps) {
            *out = QStringLiteral("%1 steps: a sweep has 1 to %2")
                       .arg(definition.steps)
                       .arg(kMaxSteps);
            return false;
        }
        built.m_ranges = {Range{1, 1, definition.steps, 0}};
    } else {
        built.m_definition.steps = 0;
        if (!parseList(definition.codes, &built.m_ranges, out))
            return false;
    }
    const Range &last = built.m_ranges.back();
    built.m_listLength = last.index + last.count;

    if (definition.repeat < 1 || definition.repeat > kMaxSteps) {
        *out = QStringLiteral("%1 passes: a sweep repeats 1 to %2 times")
                   .arg(definition.repeat)
                   .arg(kMaxSteps);
        return false;
    }
    if (definition.order == Order::Shuffled && definition.direction != Direction::Up) {
        *out = QStringLiteral("a shuffled order has no direction, not %1")
                   .arg(name(definition.direction));
        return false;
    }
    if (definition.order == Order::Sequential)
        built.m_definition.seed = 0;
    built.m_passLength =
        definition.direction == Direction::UpDown ? 2 * built.m_listLength - 1 : built.m_listLength;
    if (built.m_passLength > kMaxSteps / definition.repeat) {
        *out = QStringLiteral("%1 make %2 steps (%3 a pass, %4 passes), more than the %5 a "
                              "sweep may have")
                   .arg(definition.codes.isEmpty()
                            ? QStringLiteral("the codes 1 to %1").arg(definition.steps)
                            : QStringLiteral("the codes '%1'").arg(definition.codes))
                   .arg(built.m_passLength * definition.repeat)
                   .arg(built.m_passLength)
                   .arg(definition.repeat)
                   .arg(kMaxSteps);
        return false;
    }
    built.m_count = built.m_passLength * definition.repeat;

    if (definition.order == Order::Shuffled) {
        std::vector<qint32> list(size_t(built.m_listLength));
        for (qint64 i = 0; i < built.m_listLength; ++i)
            list[size_t(i)] = built.listCode(i);
        auto all = std::make_shared<std::vector<qint32>>();
        all->reserve(size_t(built.m_count));
        SplitMix64 generator(definition.seed);
        for (qint64 pass = 0; pass < definition.repeat; ++pass) {
            std::vector<qint32> codes = list;
            shuffle(codes, generator);
            all->insert(all->end(), codes.begin(), codes.end());
        }
        built.m_shuffled = std::move(all);
    }
    *plan = std::move(built);
    return true;
}

qint32 SweepPlan::listCode(qint64 position) const
{
    const auto after =
        std::upper_bound(m_ranges.begin(), m_ranges.end(), position,
                         [](qint64 value, const Range &range) { return value < range.index; });
    const Range &range = *std::prev(after);
    return qint32(range.first + (position - range.index) * range.step);
}

qint32 SweepPlan::codeAt(qint64 index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    if (m_shuffled)
        return (*m_shuffled)[size_t(index)];
    const qint64 step = index % m_passLength;
    switch (m_definition.direction) {
    case Direction::Up:
        return listCode(step);
    case Direction::Down:
        return listCode(m_listLength - 1 - step);
    case Direction::UpDown:
        return listCode(step < m_listLength ? step : 2 * m_listLength - 2 - step);
    }
    return 0;
}

QVector<qint32> SweepPlan::codes() const
{
    QVector<qint32> all;
    all.reserve(m_count);
    for (qint32 code : *this)
        all.append(code);
    return all;
}

bool SweepPlan::isCounting() const
{
    return m_definition.codes.isEmpty() && m_definition.direction == Direction::Up &&
           m_definition.repeat == 1 && m_definition.order == Order::Sequential;
}

QString SweepPlan::name(Direction direction)
{
    switch (direction) {
    case Direction::Up:
        return QStringLiteral("up");
    case Direction::Down:
        return QStringLiteral("down");
    case Direction::UpDown:
        return QStringLiteral("updown");
    }
    return QString();
}

QString SweepPlan::name(Order order)
{
    return order == Order::Shuffled ? QStringLiteral("shuffled") : QStringLiteral("sequential");
}

bool SweepPlan::parseDirection(const QString &text, Direction *direction, QString *error)
{
    for (Direction known : {Direction::Up, Direction::Down, Direction::UpDown}) {
        if (text.compare(name(known), Qt::CaseInsensitive) == 0) {
            *direction = known;
            return true;
        }
    }
    *error = QStringLiteral("'%1' is no direction (up, down or updown)").arg(text);
    return false;
}

bool SweepPlan::parseOrder(const QString &text, Order *order, QString *error)
{
    for (Order known : {Order::Sequential, Order::Shuffled}) {
        if (text.compare(name(known), Qt::CaseInsensitive) == 0) {
            *order = known;
            return true;
        }
    }
    *error = QStringLiteral("'%1' is no order (sequential or shuffled)").arg(text);
    return false;
}

// The seed goes as text: a JSON number is a double and holds 53 bits only.
QJsonObject SweepPlan::toJson() const
{
    QJsonObject json{
        {QStringLiteral("codes"), m_definition.codes.isEmpty() ? QJsonValue() : m_definition.codes},
        {QStringLiteral("direction"), name(m_definition.direction)},
        {QStringLiteral("repeat"), m_definition.repeat},
        {QStringLiteral("order"), name(m_definition.order)},
        {QStringLiteral("seed"), m_definition.order == Order::Shuffled
                                     ? QJsonValue(QString::number(m_definition.seed))
                                     : QJsonValue()},
        {QStringLiteral("codesPerPass"), m_listLength},
        {QStringLiteral("steps"), m_count},
    };
    if (m_definition.codes.isEmpty())
        json.insert(QStringLiteral("countTo"), m_definition.steps);
    return json;
}

bool SweepPlan::fromJson(const QJsonObject &json, SweepPlan *plan, QString *error)
{
    Definition definition;
    const QJsonValue codes = json.value(QStringLiteral("codes"));
    if (codes.isString())
        definition.codes = codes.toString();
    else
        definition.steps = json.value(QStringLiteral("countTo")).toInteger(-1);
    definition.repeat = json.value(QStringLiteral("repeat")).toInteger(-1);
    if (!parseDirection(json.value(QStringLiteral("direction")).toString(), &definition.direction,
                        error) ||
        !parseOrder(json.value(QStringLiteral("order")).toString(), &definition.order, error))
        return false;
    if (definition.order == Order::Shuffled) {
        bool ok = false;
        definition.seed = json.value(QStringLiteral("seed")).toString().toULongLong(&ok, 10);
        if (!ok) {
            *error = QStringLiteral("a shuffled sweep without its seed");
            return false;
        }
    }
    SweepPlan built;
    if (!build(definition, &built, error))
        return false;
    if (json.value(QStringLiteral("steps")).toInteger(-1) != built.count()) {
        *error = QStringLiteral("the sweep's step count %1 is not what its codes make (%2)")
                     .arg(json.value(QStringLiteral("steps")).toInteger(-1))
                     .arg(built.count());
        return false;
    }
    *plan = std::move(built);
    return true;
}
