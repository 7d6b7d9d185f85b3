#pragma once

#include <QList>
#include <QStringList>
#include <QtGlobal>

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
