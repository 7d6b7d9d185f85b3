#pragma once

#include <QStringList>
#include <QtGlobal>

// Records every debug message while it exists, as the message handler sees it.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    int count(const QString &line) const;
    void clear();

private:
    QtMessageHandler previous;
};
