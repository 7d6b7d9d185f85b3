#pragma once

#include "report/PlotChart.h"

#include <QWidget>

// Shows one chart, painted by the report's own chart painter at the widget's size.
class ChartView : public QWidget
{
    Q_OBJECT

public:
    explicit ChartView(QWidget *parent = nullptr);

    void setChart(const PlotChart &chart);
    const PlotChart &chart() const { return m_chart; }
    // The CPU time the last painting took.
    qint64 paintCostNs() const { return m_paintCostNs; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    PlotChart m_chart;
    qint64 m_paintCostNs = 0;
};
