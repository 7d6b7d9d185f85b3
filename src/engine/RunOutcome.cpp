#include "engine/RunOutcome.h"

#include <QStringList>

bool RunOutcome::isClean() const
{
    return status == Finished && errCells == 0 && notMeasurements == 0 && framesNotSent == 0 &&
           piecesNotWritten == 0 && fileSynced && recordWritesFailed == 0 &&
           recoveryFile.isEmpty() && supplyNotMeasured == 0 && !supplyLeftOn;
}

QString RunOutcome::summary() const
{
    QStringList faults;
    if (errCells > 0)
        faults << QStringLiteral("%1 ERR cells").arg(errCells);
    if (notMeasurements > 0)
        faults << QStringLiteral("%1 readings that are not a measurement").arg(notMeasurements);
    if (framesNotSent > 0)
        faults << QStringLiteral("%1 values not sent").arg(framesNotSent);
    if (piecesNotWritten > 0)
        faults << QStringLiteral("%1 pieces of the result file not written").arg(piecesNotWritten);
    if (!fileSynced)
        faults << QStringLiteral("the end of the result file not confirmed on disk");
    if (supplyNotMeasured > 0)
        faults << QStringLiteral("%1 supply currents that are not a measurement")
                      .arg(supplyNotMeasured);
    if (supplyLeftOn)
        faults << QStringLiteral("the supply's output not confirmed off");
    if (recordWritesFailed > 0)
        faults << QStringLiteral("the record not written (%1)").arg(recordFailure);

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
