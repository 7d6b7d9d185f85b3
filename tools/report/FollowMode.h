#pragma once

#include "report/LinearityAnalysis.h"
#include "report/ReportLimits.h"

#include <QString>
#include <QStringList>

// benchtest-report --follow: the live window on a run, or, with --headless, the wait for the
// run's end before the report is written as for a finished file.
class FollowMode
{
public:
    // The command line asks for the live window (--follow without --headless, --help or
    // --version): the program needs Qt Widgets and a display then.
    static bool opensWindow(const QStringList &arguments);

    // Shows the live window on the run of `file` until it is closed; the exit code.
    static int showWindow(const QString &file, const IdealLine &ideal,
                          const QVector<Limit> &limits);

    // Follows the run of `file` until it is over and gives its files for the report: the result
    // file and each recovery file the run went on in. False with the reason when the file is
    // not there or cannot be read as a result file.
    [[nodiscard]] static bool waitForEnd(const QString &file, QStringList *files, QString *error);
};
