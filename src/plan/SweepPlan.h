#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

// The codes of one sweep in the order they go to the board. A pass is the
// code list as written (ranges START:STOP[:STEP] and single codes, joined by
// commas), or the codes 1 … steps without one; the direction runs it forwards
// (up), backwards (down) or forwards and back (updown, the turning code once);
// the passes repeat; a shuffled order draws each pass afresh from the seed.
// Only a shuffled plan holds its codes in memory: the others work each code
// out from the ranges, so a plan of millions of codes costs a few bytes.
class SweepPlan
{
public:
    enum class Direction
    {
        Up,
        Down,
        UpDown
    };
    enum class Order
    {
        Sequential,
        Shuffled
    };

    // What was asked for; build() expands it.
    struct Definition
    {
        QString codes;     // empty: the codes 1 … steps
        qint64 steps = 10; // without codes only
        Direction direction = Direction::Up;
        qint64 repeat = 1;
        Order order = Order::Sequential;
        quint64 seed = 0; // shuffled only

        bool operator==(const Definition &other) const;
        bool operator!=(const Definition &other) const { return !(*this == other); }
    };

    // More steps than this are refused: at 0.1 s a step, 11 days of sweeping.
    static constexpr qint64 kMaxSteps = 10'000'000;

    // The sweep a run makes by itself: 1 … 10, upwards, once.
    SweepPlan();

    // False with a message that quotes the offending text; `plan` is then unchanged.
    [[nodiscard]] static bool build(const Definition &definition, SweepPlan *plan, QString *error);
    // The codes 1 … steps, as the built-in tests send them (1 <= steps <= kMaxSteps).
    static SweepPlan counting(qint64 steps);
    // Checks a code list alone (syntax and 32-bit range), as soon as it is read.
    [[nodiscard]] static bool checkCodes(const QString &codes, QString *error);

    const Definition &definition() const { return m_definition; }
    // Steps of the whole plan, every pass.
    qint64 count() const { return m_count; }
    // Codes of one pass before its direction: the list as written.
    qint64 listLength() const { return m_listLength; }
    qint32 codeAt(qint64 index) const; // 0 <= index < count()
    QVector<qint32> codes() const;

    // The codes in the order sent, each worked out as it is reached.
    class const_iterator
    {
    public:
        const_iterator(const SweepPlan *plan, qint64 index) : plan(plan), index(index) {}
        qint32 operator*() const { return plan->codeAt(index); }
        const_iterator &operator++()
        {
            ++index;
            return *this;
        }
        bool operator!=(const const_iterator &other) const { return index != other.index; }

    private:
        const SweepPlan *plan;
        qint64 index;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, m_count); }
    // The codes 1 … steps, upwards, once, in order: a run's own sweep.
    bool isCounting() const;

    QJsonObject toJson() const;
    [[nodiscard]] static bool fromJson(const QJsonObject &json, SweepPlan *plan, QString *error);

    static QString name(Direction direction);
    static QString name(Order order);
    [[nodiscard]] static bool parseDirection(const QString &text, Direction *direction,
                                             QString *error);
    [[nodiscard]] static bool parseOrder(const QString &text, Order *order, QString *error);

private:
    // START, START + step, … : `count` codes, the first of them at `index` in the list.
    struct Range
    {
        qint64 first = 0;
        qint64 step = 1;
        qint64 count = 1;
        qint64 index = 0;
    };

    [[nodiscard]] static bool parseList(const QString &text, std::vector<Range> *ranges,
                                        QString *error);
    qint32 listCode(qint64 position) const;

    Definition m_definition;
    std::vector<Range> m_ranges;
    qint64 m_listLength = 0;
    qint64 m_passLength = 0;
    qint64 m_count = 0;
    // Shared between copies: a copied plan costs no second list.
    std::shared_ptr<const std::vector<qint32>> m_shuffled;
};
