#pragma once

#include <QByteArray>
#include <QList>

// One SCPI command as received ("VOLT2 2.5", "MEAS:DVM:DC?", "*IDN?"),
// matched against patterns without regard to case. In a pattern, the upper
// case letters of a keyword are its short form, "[DC]" marks an optional
// keyword and a trailing '#' a numeric suffix ("VOLTage#" takes "VOLT2").
class ScpiCommand
{
public:
    // Splits a line at ';' into its commands; blank parts are dropped.
    static QList<ScpiCommand> parseLine(const QByteArray &line);
    explicit ScpiCommand(const QByteArray &text);

    bool isQuery() const { return query; }
    // True when the header fits `pattern` ("[SENSe]:VOLTage:[DC]:RANGe",
    // "READ?"); `suffix` receives the numeric suffix, 1 when absent.
    bool matches(const char *pattern, int *suffix = nullptr) const;
    QByteArray argument() const { return arguments; }
    bool argumentAsNumber(double &value) const;
    // A number, or MINimum, MAXimum or DEFault standing for the values given.
    bool argumentAsNumber(double &value, double minimum, double maximum, double standard) const;
    // The argument up to its first ',' ("10,0.001" gives "10"), trimmed.
    QByteArray firstArgument() const;
    // ON/1 and OFF/0.
    bool argumentAsBoolean(bool &value) const;

private:
    bool matchFrom(const QList<QByteArray> &pattern, int p, int h, int *suffix) const;

    QList<QByteArray> headerNodes;
    bool query = false;
    QByteArray arguments;
};
