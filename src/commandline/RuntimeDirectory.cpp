#include "commandline/RuntimeDirectory.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

void provideRuntimeDirectory()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t user = ::geteuid();
    const passwd *entry = ::getpwuid(user);
    const QByteArray userName = entry ? QByteArray(entry->pw_name) : QByteArray::number(user);
    const QByteArray path = QFile::encodeName(QDir::tempPath()) + "/runtime-" + userName;

    ::mkdir(path.constData(), 0700);
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != user ||
        (info.st_mode & 0777) != 0700)
        return;
    qputenv("XDG_RUNTIME_DIR", path);
}
