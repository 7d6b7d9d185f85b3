#include "tests/support/LogCapture.h"

#include <mutex>

namespace {

// Runs log from their own threads while a test reads the lines.
std::mutex capturing;
QStringList *captured = nullptr;

void record(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const std::lock_guard<std::mutex> lock(capturing);
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
    {
        const std::lock_guard<std::mutex> lock(capturing);
        Q_ASSERT(!captured);
        captured = new QStringList;
    }
    previous = qInstallMessageHandler(record);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    const std::lock_guard<std::mutex> lock(capturing);
    delete captured;
    captured = nullptr;
}

QStringList LogCapture::lines() const
{
    const std::lock_guard<std::mutex> lock(capturing);
    return *captured;
}

int LogCapture::count(const QString &line) const
{
    const std::lock_guard<std::mutex> lock(capturing);
    return int(captured->count(line));
}

void LogCapture::clear()
{
    const std::lock_guard<std::mutex> lock(capturing);
    captured->clear();
}
