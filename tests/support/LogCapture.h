#pragma once

#include <QList>
#include <QStringList>
#include <QtGlobal>

// How the debug stream writes a QString value: in double quotes, with line
// ends escaped.
QString debugQuoted(QString text);

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
