#include "tools/runner/RunLog.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {

bool verboseLog = false;
std::function<void()> beforeLine;
std::function<void()> afterLine;

void writeLine(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const bool always = type == QtCriticalMsg || type == QtFatalMsg;
    if (verboseLog || always) {
        // The window ends some lines with "\r\n" of its own; one line end is enough.
        QString line = message;
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (beforeLine)
            beforeLine();
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
        if (afterLine)
            afterLine();
    }
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void RunLog::install(bool verbose)
{
    verboseLog = verbose;
    qInstallMessageHandler(writeLine);
}

void RunLog::setLineGuard(std::function<void()> before, std::function<void()> after)
{
    beforeLine = std::move(before);
    afterLine = std::move(after);
}
