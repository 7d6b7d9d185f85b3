#include "results/RecordFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

RecordFile::RecordFile(FileSystemCalls &calls) : calls(calls) {}

RecordFile::~RecordFile()
{
    discard(&spare);
}

void RecordFile::setPath(const QString &path)
{
    recordPath = path;
    encodedPath = QFile::encodeName(path);
    folder = QFile::encodeName(QFileInfo(path).path());
    written = false;
    discard(&spare);
}

QString RecordFile::failure(const char *what) const
{
    return QStringLiteral("cannot %1 %2: %3").arg(QLatin1String(what), recordPath, systemReason());
}

// An unnamed file in the record's folder where the system has them (it
// vanishes by itself if the process dies), else a hidden file beside the
// record. Space for `size` bytes is allocated up front.
bool RecordFile::openTemporary(Temporary *temporary, off_t size, QString *error)
{
    const off_t allocated = qMax(size, kSpareBytes);
    temporary->fd = calls.open(folder.constData(), O_WRONLY | O_TMPFILE, 0666);
    temporary->unnamed = temporary->fd >= 0;
    if (!temporary->unnamed) {
        for (int attempt = 0; attempt < 100 && temporary->fd < 0; ++attempt) {
            temporary->name = folder + "/." + QFileInfo(recordPath).fileName().toLocal8Bit() +
                              "." + QByteArray::number(::getpid()) + "." +
                              QByteArray::number(attempt) + ".tmp";
            temporary->fd = calls.open(temporary->name.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
            if (temporary->fd < 0 && errno != EEXIST)
                break;
        }
        if (temporary->fd < 0) {
            temporary->name.clear();
            *error = failure("create a temporary file beside");
            return false;
        }
    }
    if (calls.allocate(temporary->fd, allocated) != 0) {
        *error = failure("reserve space for");
        discard(temporary);
        return false;
    }
    temporary->allocated = allocated;
    return true;
}

void RecordFile::discard(Temporary *temporary)
{
    if (temporary->fd >= 0)
        calls.close(temporary->fd);
    if (!temporary->unnamed && !temporary->name.isEmpty())
        calls.unlink(temporary->name.constData());
    *temporary = Temporary();
}

// The file under the record's name must still be the one this object wrote:
// a link or another file put there is not replaced.
bool RecordFile::takeOver(const QByteArray &expected, QString *error)
{
    const int fd = calls.open(encodedPath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) {
        *error = failure("open");
        return false;
    }
    struct stat status
    {};
    QByteArray bytes;
    bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (regular && status.st_size == off_t(expected.size())) {
        bytes.resize(expected.size());
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(got);
    }
    calls.close(fd);
    if (!regular || bytes != expected) {
        *error = QStringLiteral("%1 changed since it was read: it is not taken over").arg(recordPath);
        return false;
    }
    written = true;
    writtenDevice = status.st_dev;
    writtenInode = status.st_ino;
    writtenChange = status.st_ctim;
    return true;
}

bool RecordFile::isStillOurs() const
{
    struct stat status
    {};
    return ::lstat(encodedPath.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_dev == writtenDevice && status.st_ino == writtenInode &&
           status.st_ctim.tv_sec == writtenChange.tv_sec &&
           status.st_ctim.tv_nsec == writtenChange.tv_nsec;
}

bool RecordFile::syncFolder()
{
    const int fd = calls.open(folder.constData(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0)
        return false;
    const bool synced = calls.sync(fd) == 0;
    return calls.close(fd) == 0 && synced;
}

bool RecordFile::write(const QByteArray &bytes, QString *error)
{
    if (recordPath.isEmpty()) {
        *error = QStringLiteral("the record has no name");
        return false;
    }
    if (written && !isStillOurs()) {
        *error = QStringLiteral("%1 is no longer this run's record").arg(recordPath);
        return false;
    }

    Temporary temporary;
    if (spare.fd >= 0 && spare.allocated >= off_t(bytes.size()))
        std::swap(temporary, spare);
    else if (!openTemporary(&temporary, off_t(bytes.size()), error))
        return false;

    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t count = calls.writeAt(temporary.fd, bytes.constData() + done,
                                            size_t(bytes.size() - done), off_t(done));
        ok = count > 0;
        done += ok ? count : 0;
    }
    ok = ok && calls.truncate(temporary.fd, off_t(bytes.size())) == 0;
    ok = ok && calls.sync(temporary.fd) == 0;
    struct stat status
    {};
    ok = ok && ::fstat(temporary.fd, &status) == 0;
    if (!ok) {
        *error = failure("write");
        discard(&temporary);
        return false;
    }

    // The first write takes a free name without replacing anything; later ones
    // replace the record written before, in one step.
    QByteArray staged;
    if (temporary.unnamed) {
        staged = written ? encodedPath + ".new" : encodedPath;
        if (written)
            calls.unlink(staged.constData()); // a leftover of an interrupted write
        ok = calls.linkUnnamed(temporary.fd, staged.constData()) == 0;
    } else if (!written) {
        ok = calls.link(temporary.name.constData(), encodedPath.constData()) == 0;
        staged = encodedPath;
    } else {
        staged = temporary.name;
    }
    if (ok && staged != encodedPath)
        ok = calls.rename(staged.constData(), encodedPath.constData()) == 0;
    if (!ok) {
        *error = errno == EEXIST
                     ? QStringLiteral("%1 exists already: the record is not replaced").arg(recordPath)
                     : failure("put in place");
        if (temporary.unnamed && staged != encodedPath)
            calls.unlink(staged.constData());
        discard(&temporary);
        return false;
    }
    // The record now lives under its name: the temporary name goes.
    if (!temporary.unnamed && staged == encodedPath)
        calls.unlink(temporary.name.constData());
    temporary.name.clear();
    temporary.unnamed = true; // nothing left to unlink
    const bool closed = calls.close(temporary.fd) == 0;
    temporary.fd = -1;
    written = true;
    writtenDevice = status.st_dev;
    writtenInode = status.st_ino;
    // Taking its name changed the record's change time: keep the one it has now.
    struct stat placed
    {};
    writtenChange = ::lstat(encodedPath.constData(), &placed) == 0 && placed.st_ino == writtenInode
                        ? placed.st_ctim
                        : status.st_ctim;
    if (!closed || !syncFolder()) {
        *error = failure("sync");
        return false;
    }

    // Best effort: without a spare the next write allocates its own.
    QString ignored;
    openTemporary(&spare, off_t(bytes.size()) * 2, &ignored);
    return true;
}
