#include "report/LineFit.h"

LineFit LineFit::endPoint(const QVector<QPointF> &points)
{
    LineFit fit;
    if (points.size() < 2 || points.first().x() == points.last().x())
        return fit;
    const QPointF first = points.first();
    const QPointF last = points.last();
    fit.gain = (last.y() - first.y()) / (last.x() - first.x());
    fit.offset = first.y() - fit.gain * first.x();
    fit.valid = true;
    return fit;
}

LineFit LineFit::leastSquares(const QVector<QPointF> &points)
{
    LineFit fit;
    if (points.size() < 2)
        return fit;
    double meanX = 0;
    double meanY = 0;
    for (const QPointF &p : points) {
        meanX += p.x();
        meanY += p.y();
    }
    meanX /= double(points.size());
    meanY /= double(points.size());

    // Centred sums: no cancellation between large codes and small outputs.
    double sxx = 0;
    double sxy = 0;
    for (const QPointF &p : points) {
        sxx += (p.x() - meanX) * (p.x() - meanX);
        sxy += (p.x() - meanX) * (p.y() - meanY);
    }
    if (sxx == 0)
        return fit;
    fit.gain = sxy / sxx;
    fit.offset = meanY - fit.gain * meanX;
    fit.valid = true;
    return fit;
}
