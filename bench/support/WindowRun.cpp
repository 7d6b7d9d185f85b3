#include "bench/support/WindowRun.h"

#include "app/MainWindow.h"
#include "bench/support/FirstPaint.h"
#include "bench/support/MonotonicClock.h"
#include "context/TestContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

WindowRun::WindowRun(const QString &meterResource, const QString &boardPath)
    : mainWindow(new MainWindow)
{
    TestContext.savePath = results.path();
    mainWindow->findChild<QCheckBox *>("enabledmm")->setChecked(true);
    mainWindow->findChild<QLineEdit *>("addrdmm")->setText(meterResource);
    mainWindow->findChild<QCheckBox *>("enableuart")->setChecked(true);
    mainWindow->findChild<QComboBox *>("modeluart")->setEditText(boardPath);
    mainWindow->findChild<QLineEdit *>("filename")->setText("BENCH_DAC");
    mainWindow->findChild<QLineEdit *>("tester")->setText("bench");
    connect(mainWindow, &MainWindow::DeinitTest, this, [this] { ended = true; });
}

WindowRun::~WindowRun()
{
    delete mainWindow;
}

bool WindowRun::show()
{
    return showAndWaitForFirstPaint(mainWindow);
}

qint64 WindowRun::start(const Parameters &parameters)
{
    const qint64 values[] = {parameters.steps, parameters.settleMs, parameters.readings,
                             parameters.intervalMs};
    for (int i = 0; i < 4; ++i)
        mainWindow->findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(i + 1))
            ->setText(QString::number(values[i]));
    ended = false;
    mainWindow->findChild<QPushButton *>("autotest")->click();
    return monotonicNs();
}

bool WindowRun::waitForEnd(int timeoutMs)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(mainWindow, &MainWindow::DeinitTest, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    if (ended)
        return true;
    limit.start(timeoutMs);
    loop.exec();
    return ended;
}

bool WindowRun::resultFileComplete(const Parameters &parameters, QString *problem) const
{
    QFile file(TestContext.resultFilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read %1").arg(file.fileName());
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    // 5 head lines, the column heading, the rows, an empty line, the end line.
    const qint64 expected = 6 + parameters.steps + 3;
    if (lines.size() != expected) {
        *problem = QStringLiteral("%1 lines, expected %2").arg(lines.size()).arg(expected);
        return false;
    }
    for (qint64 row = 1; row <= parameters.steps; ++row) {
        const QStringList cells = lines[int(5 + row)].split(QLatin1Char('\t'));
        if (cells.size() != 2 + qMax<qint64>(parameters.readings, 1) ||
            cells.contains(QStringLiteral("ERR"))) {
            *problem = QStringLiteral("row %1 is \"%2\"").arg(row).arg(lines[int(5 + row)]);
            return false;
        }
    }
    if (!lines[lines.size() - 2].startsWith(QStringLiteral("完成时间: ["))) {
        *problem = QStringLiteral("no end line");
        return false;
    }
    return true;
}
