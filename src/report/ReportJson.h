#pragma once

#include "ReportBuilder.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

// The machine-readable form of a report set. Undefined figures are null. `plots` holds the
// files written for each report, in report order.
class ReportJson
{
public:
    static QJsonObject object(const ReportSet &set, const QList<QStringList> &plots = {});
    static QByteArray document(const ReportSet &set, const QList<QStringList> &plots = {});
};
