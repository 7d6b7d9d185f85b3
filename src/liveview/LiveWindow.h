#pragma once

#include "report/ReportBuilder.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <optional>

class ChartView;
class LiveRun;
class QLabel;
class QPlainTextEdit;
class QThread;

// The live view of a run: the transfer curve, the INL against the running least-squares line
// and the spread of the readings at each code, redrawn as the run's follower reports rows;
// above them the step count and the outcome so far. When the run is over it shows the report
// on its files (the same computation as benchtest-report's) and, with limits, the verdict.
//
// Drawing thousands of codes costs more than reading rows: after a redraw that took c of CPU
// time, the next comes kCostFactor x c later at the earliest (and within kMaxRedrawGapMs), so
// that the charts take a small share of one core however large the sweep grows.
class LiveWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kCostFactor = 30;
    static constexpr int kMaxRedrawGapMs = 5000;

    LiveWindow(LiveRun *run, const IdealLine &ideal, const QVector<Limit> &limits,
               QWidget *parent = nullptr);
    ~LiveWindow() override;

    // What the window shows: the figures last drawn, the status line, the charts and, once
    // made, the report on the ended run.
    const LinearityReport &shown() const { return m_shown; }
    QString statusText() const;
    const ChartView *transferView() const { return m_transfer; }
    const ChartView *inlView() const { return m_inl; }
    const ChartView *spreadView() const { return m_spread; }
    const std::optional<ReportSet> &finalReport() const { return m_final; }
    QString verdictText() const;
    QString summaryText() const;

signals:
    // The report on the ended run is shown.
    void finalReportShown();

private:
    void redrawSoon();
    void redraw();
    void runEnded();
    void showFinalReport(const ReportSet &set);
    void drawCharts(const LinearityReport &report);
    QString status() const;

    LiveRun *m_run;
    IdealLine m_ideal;
    QVector<Limit> m_limits;
    LinearityReport m_shown;
    std::optional<ReportSet> m_final;
    QThread *m_reporting = nullptr;
    QTimer m_redrawTimer;
    QElapsedTimer m_sinceRedraw;
    qint64 m_computeCostNs = 0; // of the last redraw's figures and charts; painting comes after
    QLabel *m_status;
    ChartView *m_transfer;
    ChartView *m_inl;
    ChartView *m_spread;
    QLabel *m_verdict;
    QPlainTextEdit *m_summary;
};
