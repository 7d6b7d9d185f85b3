#pragma once

#include <QPointF>
#include <QVector>

// A straight line output = offset + gain * code. Invalid when the points cannot define one
// (fewer than two distinct codes).
struct LineFit
{
    bool valid = false;
    double gain = 0;   // output per code: the fitted LSB
    double offset = 0; // output at code 0

    double at(double code) const { return offset + gain * code; }

    // Through the first and the last point (points in ascending code order).
    [[nodiscard]] static LineFit endPoint(const QVector<QPointF> &points);
    // Ordinary least squares, every point weighted alike.
    [[nodiscard]] static LineFit leastSquares(const QVector<QPointF> &points);
};
