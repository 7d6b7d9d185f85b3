#include "liveview/ChartView.h"

#include "liveview/ThreadCpuTime.h"

#include <QPainter>

ChartView::ChartView(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(320, 200);
    // The chart paints every pixel.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartView::setChart(const PlotChart &chart)
{
    m_chart = chart;
    update();
}

void ChartView::paintEvent(QPaintEvent *)
{
    const qint64 start = threadCpuTimeNs();
    QPainter painter(this);
    m_chart.paint(&painter, QRectF(rect()));
    m_paintCostNs = threadCpuTimeNs() - start;
}
