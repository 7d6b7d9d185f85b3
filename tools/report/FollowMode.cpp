#include "tools/report/FollowMode.h"

#include "liveview/LiveWindow.h"
#include "report/LiveRun.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>

bool FollowMode::opensWindow(const QStringList &arguments)
{
    bool follow = false;
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            break;
        // "-v" is no option of this program: the parser refuses it, with no display needed.
        if (argument == QLatin1String("--headless") || argument == QLatin1String("--help") ||
            argument == QLatin1String("-h") || argument == QLatin1String("--version") ||
            argument == QLatin1String("-v"))
            return false;
        follow = follow || argument == QLatin1String("--follow");
    }
    return follow;
}

int FollowMode::showWindow(const QString &file, const IdealLine &ideal,
                           const QVector<Limit> &limits)
{
    LiveRun run(file);
    LiveWindow window(&run, ideal, limits);
    window.show();
    run.start();
    return QApplication::exec();
}

bool FollowMode::waitForEnd(const QString &file, QStringList *files, QString *error)
{
    // A script names a run that has begun; a name that is not there is a mistake, not a wait.
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("cannot follow %1: no such file").arg(file);
        return false;
    }
    LiveRun run(file);
    QEventLoop loop;
    QObject::connect(&run, &LiveRun::ended, &loop, &QEventLoop::quit);
    run.start();
    loop.exec();
    *files = run.files();
    *error = run.error();
    return error->isEmpty();
}
