#include "tests/support/LogCapture.h"

namespace {

QStringList *captured = nullptr;

void record(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (captured)
        captured->append(message);
}

} // namespace

QString debugQuoted(QString text)
{
    text.replace(QLatin1String("\r"), QLatin1String("\\r"));
    text.replace(QLatin1String("\n"), QLatin1String("\\n"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

LogCapture::LogCapture()
{
    Q_ASSERT(!captured);
    captured = new QStringList;
    previous = qInstallMessageHandler(record);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    delete captured;
    captured = nullptr;
}

QStringList LogCapture::lines() const
{
    return *captured;
}

int LogCapture::count(const QString &line) const
{
    return int(captured->count(line));
}

void LogCapture::clear()
{
    captured->clear();
}
