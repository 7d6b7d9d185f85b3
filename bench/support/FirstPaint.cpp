#include "bench/support/FirstPaint.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QWidget>

namespace {

class PaintWatcher : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

bool showAndWaitForFirstPaint(QWidget *window, int timeoutMs)
{
    PaintWatcher watcher;
    window->installEventFilter(&watcher);
    window->show();
    const QDeadlineTimer deadline(timeoutMs);
    while (!watcher.painted && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    window->removeEventFilter(&watcher);
    return watcher.painted;
}
