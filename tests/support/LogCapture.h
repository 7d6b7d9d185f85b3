#pragma once

#include <QList>
#include <QStringList>
#include <QtGlobal>

// How the debug stream writes a QString value: in double quotes, with line
// ends escaped.
QString debugQuoted(QString text);

// Records every debug message while it exists, as the message handler sees
// it, with the wall-clock time (ms since the epoch) it arrived.
class LogCapture
{
public:
    struct Entry
    {
        qint64 timeMs;
        QString text;
    };

    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    QList<Entry> entries() const;
    int count(const QString &line) const;
    void clear();

private:
    QtMessageHandler previous;
};
