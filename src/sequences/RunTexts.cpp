#include "sequences/RunTexts.h"

#include "results/ProgressFigures.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

// Every text is marked where it is used, so that lupdate finds it.
QString tr(const char *text)
{
    return QCoreApplication::translate("RunTexts", text);
}

} // namespace

namespace RunTexts {

QString progressStarting()
{
    return tr(QT_TRANSLATE_NOOP("RunTexts", "进度：--"));
}

QString progressFinished()
{
    return tr(QT_TRANSLATE_NOOP("RunTexts", "进度：已完成！"));
}

QString progress(const RunProgress &figures)
{
    if (figures.remainingMs < 0)
        return tr(QT_TRANSLATE_NOOP("RunTexts", "进度：%1%  ( -- )")).arg(figures.percent);
    // The number goes in first: the time part never holds a "%1".
    return tr(QT_TRANSLATE_NOOP("RunTexts", "进度：%1%  ( %2 )"))
        .arg(figures.percent)
        .arg(remainingTimeText(figures.remainingMs));
}

QString summary(const RunOutcome &outcome)
{
    QStringList faults;
    if (outcome.errCells > 0)
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "%1 个 ERR 读数")).arg(outcome.errCells);
    if (outcome.notMeasurements > 0)
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "%1 个读数不是测量值"))
                      .arg(outcome.notMeasurements);
    if (outcome.framesNotSent > 0)
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "%1 个值未发送")).arg(outcome.framesNotSent);
    if (outcome.piecesNotWritten > 0)
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "结果文件有 %1 段未写入"))
                      .arg(outcome.piecesNotWritten);
    if (!outcome.fileSynced)
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "结果文件末尾未确认写入磁盘"));
    if (outcome.recordWritesFailed > 0)
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "记录未写入（%1）")).arg(outcome.recordFailure);
    if (!outcome.recoveryFile.isEmpty())
        faults << tr(QT_TRANSLATE_NOOP("RunTexts", "其余结果在 %1")).arg(outcome.recoveryFile);

    QString text;
    switch (outcome.status) {
    case RunOutcome::Finished:
        text = tr(QT_TRANSLATE_NOOP("RunTexts", "完成"));
        break;
    case RunOutcome::Stopped:
        text = tr(QT_TRANSLATE_NOOP("RunTexts", "在 %1 步（共 %2 步）后停止"))
                   .arg(outcome.stepsDone)
                   .arg(outcome.stepsPlanned);
        break;
    case RunOutcome::Failed:
        text = tr(QT_TRANSLATE_NOOP("RunTexts", "失败：%1")).arg(outcome.failure);
        break;
    }
    if (!faults.isEmpty())
        text += tr(QT_TRANSLATE_NOOP("RunTexts", "，但有：")) +
                faults.join(tr(QT_TRANSLATE_NOOP("RunTexts", "，")));
    return text;
}

} // namespace RunTexts
