#pragma once

#include "commandline/CommandLine.h"

#include <QStringList>
#include <QTextStream>

// The benchtest-report command line: options, reading, analysis and output files.
// run() returns the process exit code.
class DatabaseConnection;

class ReportCommand
{
public:
    enum ExitCode
    {
        Success = 0,
        InputError = 1,
        UsageError = 2,
        OutputError = 3,
        LimitFailed = 4 // everything written, but a report is outside a limit
    };

    ReportCommand();
    int run(const QStringList &arguments);

private:
    int fail(ExitCode code, const QString &message);
    int importFiles(DatabaseConnection &connection, const QStringList &files);
    int syncJournals(DatabaseConnection &connection, const QString &folder);

    CommandLine m_commandLine;
    QTextStream m_out;
    QTextStream m_err;
};
