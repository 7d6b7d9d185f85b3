#pragma once

#include <QString>

// Collects what the fault cases observed, one tab-separated line per case
// (group, case, what the tool did, what was on disk), for the reliability
// table in docs/. The file is <dir>/<test program>.tsv with <dir> taken from
// BENCHTEST_RELIABILITY_DIR, else "reliability" in the build folder.
class ReliabilityLog
{
public:
    // Starts the program's file afresh.
    static void begin();
    static void add(const QString &group, const QString &caseName, const QString &did,
                    const QString &onDisk);
    static QString filePath();
};
