#pragma once

#include <QString>
#include <QVector>

// A chart axis over [low, high] with round ticks inside it: multiples of 1, 2 or 5 times a
// power of ten. Any input, NaN and infinities included, gives a finite range wider than zero,
// a finite step and at most kMaxTicks ticks.
struct PlotAxis
{
    static constexpr int kMaxTicks = 100;

    double low = 0;
    double high = 1;
    double step = 1;

    // Spans [low, high] widened on each side by `margin` of it, at least by `minimumPad`; the
    // tick step is at least `minimumStep`. A span too small for the doubles to resolve (flat
    // data) is centred on its value.
    [[nodiscard]] static PlotAxis around(double low, double high, double margin, double minimumPad,
                                         double minimumStep);

    QVector<double> ticks() const;
    QString label(double value) const;
};
