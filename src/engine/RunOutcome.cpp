#include "engine/RunOutcome.h"

#include <QStringList>

bool RunOutcome::isClean() const
{
    return status == Finished && errCells == 0 && framesNotSent == 0 && piecesNotWritten == 0 &&
           recoveryFile.isEmpty();
}

QString RunOutcome::summary() const
{
    QStringList faults;
    if (errCells > 0)
        faults << QStringLiteral("%1 ERR cells").arg(errCells);
    if (framesNotSent > 0)
        faults << QStringLiteral("%1 values not sent").arg(framesNotSent);
    if (piecesNotWritten > 0)
        faults << QStringLiteral("%1 pieces of the result file not written").arg(piecesNotWritten);

    QString text;
    switch (status) {
    case Finished:
        text = QStringLiteral("finished");
        break;
    case Stopped:
        text = QStringLiteral("stopped after %1 of %2 steps").arg(stepsDone).arg(stepsPlanned);
        break;
    case Failed:
        text = QStringLiteral("failed: ") + failure;
        break;
    }
    if (!recoveryFile.isEmpty())
        faults << QStringLiteral("the rest of the results in %1").arg(recoveryFile);
    if (!faults.isEmpty())
        text += QStringLiteral(" with ") + faults.join(QStringLiteral(", "));
    return text;
}
