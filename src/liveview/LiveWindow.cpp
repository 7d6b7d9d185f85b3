#include "liveview/LiveWindow.h"

#include "liveview/ChartView.h"
#include "liveview/ThreadCpuTime.h"
#include "report/LiveRun.h"
#include "report/ReportPlots.h"
#include "report/ReportSummary.h"
#include "report/SpreadPlot.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

LiveWindow::LiveWindow(LiveRun *run, const IdealLine &ideal, const QVector<Limit> &limits,
                       QWidget *parent)
    : QWidget(parent), m_run(run), m_ideal(ideal), m_limits(limits), m_status(new QLabel(this)),
      m_transfer(new ChartView(this)), m_inl(new ChartView(this)), m_spread(new ChartView(this)),
      m_verdict(new QLabel(this)), m_summary(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("Live view: %1").arg(QFileInfo(run->files().first()).fileName()));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont large = m_verdict->font();
    large.setPointSizeF(large.pointSizeF() * 2);
    large.setBold(true);
    m_verdict->setFont(large);
    m_verdict->hide();
    m_summary->setReadOnly(true);
    m_summary->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_summary->hide();

    auto *charts = new QGridLayout;
    charts->addWidget(m_transfer, 0, 0, 1, 2);
    charts->addWidget(m_inl, 1, 0);
    charts->addWidget(m_spread, 1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addLayout(charts, 3);
    layout->addWidget(m_verdict);
    layout->addWidget(m_summary, 1);
    resize(1100, 820);

    m_redrawTimer.setSingleShot(true);
    connect(&m_redrawTimer, &QTimer::timeout, this, &LiveWindow::redraw);
    connect(run, &LiveRun::updated, this, &LiveWindow::redrawSoon);
    connect(run, &LiveRun::ended, this, &LiveWindow::runEnded);
    redraw();
    if (run->phase() == LiveRun::Phase::Ended)
        runEnded();
}

LiveWindow::~LiveWindow()
{
    if (m_reporting) {
        m_reporting->wait();
        delete m_reporting;
    }
}

QString LiveWindow::statusText() const
{
    return m_status->text();
}

QString LiveWindow::verdictText() const
{
    return m_verdict->isHidden() ? QString() : m_verdict->text();
}

QString LiveWindow::summaryText() const
{
    return m_summary->isHidden() ? QString() : m_summary->toPlainText();
}

void LiveWindow::redrawSoon()
{
    if (m_redrawTimer.isActive())
        return; // a redraw is due already, and it takes every row read until then
    qint64 costNs = m_computeCostNs;
    for (const ChartView *view : {m_transfer, m_inl, m_spread})
        costNs += view->paintCostNs();
    const qint64 gapMs = std::min<qint64>(costNs * kCostFactor / 1000000, kMaxRedrawGapMs);
    const qint64 waitMs = m_sinceRedraw.isValid() ? gapMs - m_sinceRedraw.elapsed() : 0;
    if (waitMs > 0 && m_run->phase() != LiveRun::Phase::Ended)
        m_redrawTimer.start(int(waitMs));
    else
        redraw();
}

void LiveWindow::redraw()
{
    m_redrawTimer.stop();
    const qint64 start = threadCpuTimeNs();
    // Once the run's report is shown, its figures stay.
    if (!m_final) {
        m_shown = m_run->sweep().report(m_ideal);
        drawCharts(m_shown);
    }
    m_status->setText(status());
    m_computeCostNs = threadCpuTimeNs() - start;
    m_sinceRedraw.start();
}

void LiveWindow::drawCharts(const LinearityReport &report)
{
    m_transfer->setChart(ReportPlots::transfer(report));
    m_inl->setChart(ReportPlots::inl(report));
    m_spread->setChart(SpreadPlot::chart(report));
}

// The report reads the run's files again from the start, in a thread of its own: a long run
// takes a moment, and the window keeps answering meanwhile.
void LiveWindow::runEnded()
{
    if (m_reporting)
        return;
    redraw(); // the last rows, at once
    const QStringList files = m_run->files();
    auto set = std::make_shared<ReportSet>();
    m_reporting = QThread::create([files, ideal = m_ideal, limits = m_limits, set] {
        *set = ReportBuilder::build(files, ReportBuilder::Grouping::Pooled, ideal, limits);
    });
    connect(m_reporting, &QThread::finished, this, [this, set] { showFinalReport(*set); });
    m_reporting->start();
}

void LiveWindow::showFinalReport(const ReportSet &set)
{
    m_final = set;
    if (!set.reports.isEmpty()) {
        m_shown = set.reports.first();
        drawCharts(m_shown);
    }
    QStringList lines;
    for (const QString &warning : set.warnings)
        lines.append(QStringLiteral("warning: ") + warning);
    lines.append(set.errors.isEmpty() ? ReportSummary::text(set) : set.errors.join('\n'));
    m_summary->setPlainText(lines.join('\n'));
    m_summary->show();
    if (!m_limits.isEmpty() && set.errors.isEmpty()) {
        const bool pass = set.passes();
        m_verdict->setText(pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
        m_verdict->setStyleSheet(pass ? QStringLiteral("color: #2ca02c")
                                      : QStringLiteral("color: #d62728"));
        m_verdict->show();
    }
    m_status->setText(status());
    emit finalReportShown();
}

// "<file>: step 120 of 400, 120 codes, running, 2 ERR cells".
QString LiveWindow::status() const
{
    const std::optional<RunRecord> &record = m_run->record();
    QStringList parts;
    if (m_run->phase() == LiveRun::Phase::Waiting) {
        parts << QStringLiteral("waiting for the file to appear");
    } else {
        const qint64 steps = m_run->sweep().rows();
        parts << (record
                      ? QStringLiteral("step %1 of %2").arg(steps).arg(record->parametersUsed.steps)
                      : QStringLiteral("step %1").arg(steps));
        parts << QStringLiteral("%1 codes").arg(m_shown.result.codesWithData);
        if (!m_run->error().isEmpty())
            parts << QStringLiteral("cannot read %1").arg(m_run->error());
        else if (record && record->hasEnded())
            parts << (record->outcome.summary.isEmpty() ? record->outcome.status
                                                        : record->outcome.summary);
        else if (m_run->endLineRead())
            parts << QStringLiteral("finished");
        else if (m_run->phase() == LiveRun::Phase::Ended)
            parts << QStringLiteral("ended");
        else
            parts << (record ? record->outcome.status : QStringLiteral("running (no record)"));
        if (m_shown.result.errReadings > 0)
            parts << QStringLiteral("%1 ERR cells").arg(m_shown.result.errReadings);
        if (m_run->files().size() > 1)
            parts << QStringLiteral("continued in %1").arg(m_run->files().last());
    }
    if (m_reporting && !m_final)
        parts << QStringLiteral("making the report");
    return QStringLiteral("%1: %2").arg(QFileInfo(m_run->files().first()).fileName(),
                                        parts.join(QStringLiteral(", ")));
}
