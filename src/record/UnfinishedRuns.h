#pragma once

#include <QString>
#include <QStringList>

// The result files of a folder whose runs did not finish, by their records:
// stopped, failed, or still "running" (killed, or going on elsewhere right
// now). Runs that went on in a recovery file are left out: their rest is
// elsewhere. Newest first; at most `limit` records are read, newest first, so
// that a folder of years of runs does not hold up the window.
QStringList unfinishedRuns(const QString &folder, int limit = 200);

// The command line that takes up the run of `resultFile`.
QString resumeCommand(const QString &resultFile);
