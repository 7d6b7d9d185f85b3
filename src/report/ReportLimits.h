#pragma once

#include <QString>
#include <QVector>

#include <optional>

struct LinearityReport;

// A production limit on one figure of a report: the figure's magnitude must not exceed it.
struct Limit
{
    enum Figure
    {
        Inl,          // largest |INL| against the least-squares line, LSB
        Dnl,          // largest |DNL| against the least-squares line, LSB
        GainError,    // |least-squares gain error|, % of the ideal LSB
        OffsetError,  // |least-squares offset error|, ideal LSB
        MissingCodes, // how many
        Noise,        // pooled noise, least-squares LSB
    };
    Figure figure = Inl;
    double maximum = 0;
};

// A limit judged: a figure that is undefined (no fit, no noise) fails.
struct LimitCheck
{
    Limit limit;
    double value = 0; // NaN when undefined
    bool pass = false;
};

class ReportLimits
{
public:
    // "inl=2"; on failure returns nothing and says why in `error`.
    static std::optional<Limit> parse(const QString &text, QString *error);
    static QString name(Limit::Figure figure);
    static QString unit(Limit::Figure figure); // "LSB", "%" or empty
    static bool needsIdealLsb(Limit::Figure figure);

    [[nodiscard]] static QVector<LimitCheck> check(const LinearityReport &report,
                                                   const QVector<Limit> &limits);
};
