#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Records every line an instrument received, one file line each:
// the instrument's key, a blank, and the bytes as received with C escapes
// for everything outside printable ASCII ("dmm *IDN?\n" in the file reads
// `dmm *IDN?\n`). Each line is flushed at once, so readers see it before
// the instrument answers.
class Transcript
{
public:
    // Without a path nothing is recorded.
    explicit Transcript(const QString &path = QString());
    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return file.errorString(); }

    void record(const QString &key, const QByteArray &line);
    static QByteArray escape(const QByteArray &bytes);

private:
    QFile file;
};
