#include "tests/faults/Unprivileged.h"

#include <QFile>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const uid_t kNobody = 65534;

} // namespace

// The real ids decide what access() answers (QFileInfo::isWritable), the
// file-system ids what open() may do; both become nobody's. The effective ids
// stay root's, so the scope can switch back.
Unprivileged::Unprivileged()
{
    if (!isRoot())
        return;
    switched = setresgid(kNobody, 0, 0) == 0 && setresuid(kNobody, 0, 0) == 0;
    setfsgid(kNobody);
    setfsuid(kNobody);
}

Unprivileged::~Unprivileged()
{
    if (!isRoot())
        return;
    // The file-system id first: only its own change brings root's file
    // rights back; setresuid() would set it to 0 without them.
    setfsuid(0);
    setfsgid(0);
    setresuid(0, 0, 0);
    setresgid(0, 0, 0);
}

bool Unprivileged::isRoot()
{
    return geteuid() == 0;
}

bool Unprivileged::openToAll(const QString &path)
{
    return ::chmod(QFile::encodeName(path).constData(), 0777) == 0;
}

bool Unprivileged::giveToUser(const QString &path)
{
    if (!isRoot())
        return true;
    return ::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0;
}
