#pragma once

#include "report/ReportBuilder.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

// The machine-readable form of a report set. Undefined figures are null. `plots` holds the
// files written for each report, in report order. Its size does not grow with the codes
// unless asked: per-code arrays only with `perCode`, code lists cut after kCodeListLimit.
class ReportJson
{
public:
    // Raised when a field is added, renamed or changes its meaning.
    static constexpr int kSchemaVersion = 3;
    static constexpr int kCodeListLimit = 1000;

    struct Options
    {
        QList<QStringList> plots;
        bool perCode = false;
    };

    static QJsonObject object(const ReportSet &set, const Options &options);
    static QByteArray document(const ReportSet &set, const Options &options);
};
