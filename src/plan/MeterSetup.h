#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// The multimeter's set-up for a run, as SCPI commands sent once at the start.
// The defaults of each function are the built-in tests' own commands, in
// their order; a setting left as it is adds no command (autozero) or the
// default one.
class MeterSetup
{
public:
    enum class Function
    {
        Voltage, // DC volts, the DAC test
        Current  // DC amperes, the ISINK test
    };
    enum class Autozero
    {
        Unset, // the meter's own choice: no command
        On,
        Off,
        Once
    };
    // Voltage only. High asks for the meter's high input resistance: what
    // automatic impedance gives on a fixed range of 10 V or less.
    enum class Impedance
    {
        Auto,      // IMP:AUTO ON: high on the low ranges, 10 MOhm above
        TenMegohm, // IMP:AUTO OFF: 10 MOhm on every range
        High       // IMP:AUTO ON on a range where it means 1 GOhm or more
    };

    static constexpr double kMaxNplc = 1000;
    // The fixed range up to which automatic impedance is high.
    static constexpr double kHighImpedanceRangeLimit = 10;

    // The built-in test's set-up for this function.
    static MeterSetup defaults(Function function);

    Function function() const { return m_function; }
    std::optional<double> range() const { return m_range; } // none: autorange
    double nplc() const { return m_nplc; }
    Autozero autozero() const { return m_autozero; }
    Impedance impedance() const { return m_impedance; }

    void setRange(std::optional<double> range) { m_range = range; }
    void setNplc(double nplc) { m_nplc = nplc; }
    void setAutozero(Autozero autozero) { m_autozero = autozero; }
    void setImpedance(Impedance impedance) { m_impedance = impedance; }

    // False with a message for a set-up no meter can take as meant.
    [[nodiscard]] bool validate(QString *error) const;
    // "*CLS", "CONF:VOLT:DC", NPLC, autozero, impedance, range: in this order.
    QStringList commands() const;
    // The time one reading integrates, on 50 Hz mains.
    double readingSeconds() const { return m_nplc / 50.0; }

    QJsonObject toJson() const;
    bool operator==(const MeterSetup &other) const;
    bool operator!=(const MeterSetup &other) const { return !(*this == other); }

    // The words of the plan file and the command line, and their parsers;
    // each parser fails with a message that quotes the text.
    static QString name(Function function);
    static QString name(Autozero autozero);
    static QString name(Impedance impedance);
    // A number as it goes into a command: the shortest text that reads back
    // exactly, as a plain decimal from 1e-9 to 1e15.
    static QString numberText(double value);
    [[nodiscard]] static bool parseFunction(const QString &text, Function *function,
                                            QString *error);
    [[nodiscard]] static bool parseRange(const QString &text, std::optional<double> *range,
                                         QString *error);
    [[nodiscard]] static bool parseNplc(const QString &text, double *nplc, QString *error);
    [[nodiscard]] static bool parseAutozero(const QString &text, Autozero *autozero,
                                            QString *error);
    [[nodiscard]] static bool parseImpedance(const QString &text, Impedance *impedance,
                                             QString *error);

private:
    explicit MeterSetup(Function function) : m_function(function) {}

    Function m_function;
    std::optional<double> m_range;
    double m_nplc = 10;
    Autozero m_autozero = Autozero::Unset;
    Impedance m_impedance = Impedance::Auto;
};
