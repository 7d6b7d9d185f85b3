#include "LogCapture.h"

#include <QDateTime>

namespace {

QList<LogCapture::Entry> *captured = nullptr;

void record(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (captured)
        captured->append({QDateTime::currentMSecsSinceEpoch(), message});
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
    captured = new QList<Entry>;
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
    QStringList texts;
    for (const Entry &entry : *captured)
        texts << entry.text;
    return texts;
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    return *captured;
}

int LogCapture::count(const QString &line) const
{
    return int(lines().count(line));
}

void LogCapture::clear()
{
    captured->clear();
}
