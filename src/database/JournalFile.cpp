#include "database/JournalFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

JournalFile::~JournalFile()
{
    close();
}

QString JournalFile::pathFor(const QString &resultFile)
{
    const QFileInfo info(resultFile);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".dbjournal");
}

bool JournalFile::openWith(const QString &path, int flags)
{
    close();
    filePath = path;
    fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        lastError = QStringLiteral("cannot open %1: %2").arg(path, systemError());
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastError = QStringLiteral("%1 is in use by a running program").arg(path);
        close();
        return false;
    }
    struct stat status = {};
    bytes = ::fstat(fd, &status) == 0 ? status.st_size : 0;
    return true;
}

bool JournalFile::open(const QString &path)
{
    if (!openWith(path, O_RDWR | O_CREAT | O_APPEND))
        return false;
    // A journal cut off mid-line by a crash goes on from its last whole line.
    char c = '\n';
    if (bytes > 0 && ::pread(fd, &c, 1, bytes - 1) == 1 && c != '\n') {
        qint64 whole = bytes - 1;
        while (whole > 0 && ::pread(fd, &c, 1, whole - 1) == 1 && c != '\n')
            --whole;
        if (::ftruncate(fd, whole) == 0)
            bytes = whole;
    }
    return true;
}

bool JournalFile::openExisting(const QString &path)
{
    return openWith(path, O_RDWR);
}

bool JournalFile::append(const QByteArray &lines)
{
    if (fd < 0)
        return false;
    qint64 written = 0;
    while (written < lines.size()) {
        const ssize_t n = ::write(fd, lines.constData() + written, size_t(lines.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastError = QStringLiteral("cannot write %1: %2").arg(filePath, systemError());
            // The file keeps whole lines only.
            if (::ftruncate(fd, bytes) != 0)
                lastError += QStringLiteral("; cannot cut it back: ") + systemError();
            return false;
        }
        written += n;
    }
    bytes += written;
    return true;
}

bool JournalFile::sync()
{
    if (fd >= 0 && ::fdatasync(fd) == 0)
        return true;
    lastError = QStringLiteral("cannot sync %1: %2").arg(filePath, systemError());
    return false;
}

QByteArray JournalFile::readLines(qint64 offset, qint64 limit, qint64 maxBytes) const
{
    if (fd < 0 || offset >= limit)
        return {};
    QByteArray buffer(qsizetype(qMin(limit - offset, maxBytes)), Qt::Uninitialized);
    qint64 got = 0;
    while (got < buffer.size()) {
        const ssize_t n =
            ::pread(fd, buffer.data() + got, size_t(buffer.size() - got), offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    buffer.truncate(qsizetype(got));
    // A line longer than maxBytes is read whole, never in parts.
    qsizetype end = buffer.lastIndexOf('\n') + 1;
    while (end == 0 && offset + got < limit) {
        char c = 0;
        if (::pread(fd, &c, 1, offset + got) != 1)
            break;
        buffer.append(c);
        ++got;
        if (c == '\n')
            end = buffer.size();
    }
    buffer.truncate(end);
    return buffer;
}

void JournalFile::close()
{
    if (fd >= 0)
        ::close(fd); // and its lock
    fd = -1;
}

bool JournalFile::remove()
{
    const bool removed = filePath.isEmpty() ||
                         ::unlink(QFile::encodeName(filePath).constData()) == 0 || errno == ENOENT;
    close();
    return removed;
}
