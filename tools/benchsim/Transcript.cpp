#include "tools/benchsim/Transcript.h"

Transcript::Transcript(const QString &path)
{
    if (path.isEmpty())
        return;
    file.setFileName(path);
    file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void Transcript::record(const QString &key, const QByteArray &line)
{
    if (!file.isOpen())
        return;
    file.write(key.toUtf8() + ' ' + escape(line) + '\n');
    file.flush();
}

QByteArray Transcript::escape(const QByteArray &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray text;
    for (char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\')
            text += "\\\\";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\t')
            text += "\\t";
        else if (u < 0x20 || u >= 0x7F)
            text += QByteArray("\\x") + hex[u >> 4] + hex[u & 0x0F];
        else
            text += c;
    }
    return text;
}
