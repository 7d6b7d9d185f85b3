#include "plan/MeterSetup.h"

#include "plan/PlanSettings.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QLocale>

#include <cmath>

MeterSetup MeterSetup::defaults(Function function)
{
    MeterSetup setup(function);
    setup.m_range = function == Function::Voltage ? 10.0 : 0.001;
    return setup;
}

bool MeterSetup::validate(QString *error) const
{
    if (!(m_nplc > 0 && m_nplc <= kMaxNplc)) {
        *error = QStringLiteral("nplc %1 is not between 0 and %2")
                     .arg(numberText(m_nplc), numberText(kMaxNplc));
        return false;
    }
    if (m_range && !(std::isfinite(*m_range) && *m_range > 0)) {
        *error = QStringLiteral("range %1 is not a positive number").arg(numberText(*m_range));
        return false;
    }
    if (m_function == Function::Current && m_impedance != Impedance::Auto) {
        *error = QStringLiteral("impedance %1 applies to voltage only, and the function is curr")
                     .arg(name(m_impedance));
        return false;
    }
    if (m_impedance == Impedance::High && (!m_range || *m_range > kHighImpedanceRangeLimit)) {
        *error = QStringLiteral("impedance 1G needs a fixed range of %1 V or less, not %2")
                     .arg(numberText(kHighImpedanceRangeLimit),
                          m_range ? numberText(*m_range) : QStringLiteral("auto"));
        return false;
    }
    return true;
}

QStringList MeterSetup::commands() const
{
    const QString prefix =
        m_function == Function::Voltage ? QStringLiteral("VOLT:DC") : QStringLiteral("CURR:DC");
    QStringList commands{QStringLiteral("*CLS"), QStringLiteral("CONF:") + prefix,
                         prefix + QStringLiteral(":NPLC ") + numberText(m_nplc)};
    // After the integration time: a short one switches autozero by itself on some meters.
    if (m_autozero != Autozero::Unset)
        commands << prefix + QStringLiteral(":ZERO:AUTO ") + name(m_autozero).toUpper();
    if (m_function == Function::Voltage)
        commands << prefix + (m_impedance == Impedance::TenMegohm ? QStringLiteral(":IMP:AUTO OFF")
                                                                  : QStringLiteral(":IMP:AUTO ON"));
    commands << (m_range ? prefix + QStringLiteral(":RANG ") + numberText(*m_range)
                         : prefix + QStringLiteral(":RANG:AUTO ON"));
    return commands;
}

QJsonObject MeterSetup::toJson() const
{
    QJsonObject json{
        {QStringLiteral("function"), name(m_function)},
        {QStringLiteral("range"),
         m_range ? QJsonValue(*m_range) : QJsonValue(QStringLiteral("auto"))},
        {QStringLiteral("nplc"), m_nplc},
        {QStringLiteral("autozero"),
         m_autozero == Autozero::Unset ? QJsonValue() : QJsonValue(name(m_autozero))},
        {QStringLiteral("commands"), QJsonArray::fromStringList(commands())},
    };
    json.insert(QStringLiteral("impedance"),
                m_function == Function::Voltage ? QJsonValue(name(m_impedance)) : QJsonValue());
    return json;
}

bool MeterSetup::operator==(const MeterSetup &other) const
{
    return m_function == other.m_function && m_range == other.m_range && m_nplc == other.m_nplc &&
           m_autozero == other.m_autozero && m_impedance == other.m_impedance;
}

QString MeterSetup::name(Function function)
{
    return function == Function::Voltage ? QStringLiteral("volt") : QStringLiteral("curr");
}

QString MeterSetup::name(Autozero autozero)
{
    switch (autozero) {
    case Autozero::Unset:
        return QString();
    case Autozero::On:
        return QStringLiteral("on");
    case Autozero::Off:
        return QStringLiteral("off");
    case Autozero::Once:
        return QStringLiteral("once");
    }
    return QString();
}

QString MeterSetup::name(Impedance impedance)
{
    switch (impedance) {
    case Impedance::Auto:
        return QStringLiteral("auto");
    case Impedance::TenMegohm:
        return QStringLiteral("10M");
    case Impedance::High:
        return QStringLiteral("1G");
    }
    return QString();
}

QString MeterSetup::numberText(double value)
{
    // Plain decimals where they stay short: 0.0001 rather than 1e-04.
    const double size = std::fabs(value);
    const bool plain = size == 0 || (size >= 1e-9 && size < 1e15);
    return QString::number(value, plain ? 'f' : 'g', QLocale::FloatingPointShortest);
}

bool MeterSetup::parseFunction(const QString &text, Function *function, QString *error)
{
    for (Function known : {Function::Voltage, Function::Current}) {
        if (text.compare(name(known), Qt::CaseInsensitive) == 0) {
            *function = known;
            return true;
        }
    }
    *error = QStringLiteral("'%1' is no function (volt or curr)").arg(text);
    return false;
}

bool MeterSetup::parseRange(const QString &text, std::optional<double> *range, QString *error)
{
    if (text.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) {
        range->reset();
        return true;
    }
    double value = 0;
    QString ignored;
    if (!PlanValues::parsePositive(text, &value, &ignored)) {
        *error =
            QStringLiteral("'%1' is no range (a number above 0, in V or A, or auto)").arg(text);
        return false;
    }
    *range = value;
    return true;
}

bool MeterSetup::parseNplc(const QString &text, double *nplc, QString *error)
{
    double value = 0;
    QString ignored;
    if (!PlanValues::parsePositive(text, &value, &ignored) || value > kMaxNplc) {
        *error = QStringLiteral("'%1' is no integration time (power-line cycles, more than 0 "
                                "and at most %2)")
                     .arg(text, numberText(kMaxNplc));
        return false;
    }
    *nplc = value;
    return true;
}

bool MeterSetup::parseAutozero(const QString &text, Autozero *autozero, QString *error)
{
    for (Autozero known : {Autozero::On, Autozero::Off, Autozero::Once}) {
        if (text.compare(name(known), Qt::CaseInsensitive) == 0) {
            *autozero = known;
            return true;
        }
    }
    *error = QStringLiteral("'%1' is no autozero setting (on, off or once)").arg(text);
    return false;
}

bool MeterSetup::parseImpedance(const QString &text, Impedance *impedance, QString *error)
{
    // 10M and 1G as written: a small m would be milli.
    for (Impedance known : {Impedance::Auto, Impedance::TenMegohm, Impedance::High}) {
        if (text == name(known) ||
            (known == Impedance::Auto && text.compare(name(known), Qt::CaseInsensitive) == 0)) {
            *impedance = known;
            return true;
        }
    }
    *error = QStringLiteral("'%1' is no input impedance (auto, 10M or 1G)").arg(text);
    return false;
}
