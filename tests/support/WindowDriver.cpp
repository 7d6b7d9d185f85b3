#include "tests/support/WindowDriver.h"

#include "app/MainWindow.h"
#include "context/TestContext.h"
#include "record/RunRecord.h"
#include "tests/support/ContextReset.h"
#include "tests/support/FileBytes.h"
#include "tests/support/SimulatedBench.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

MainWindow *freshWindow()
{
    resetTestContext();
    return new MainWindow;
}

} // namespace

WindowDriver::WindowDriver(const SimulatedBench &bench)
    : mainWindow(freshWindow()), initSpy(mainWindow, &MainWindow::InitTest),
      deinitSpy(mainWindow, &MainWindow::DeinitTest)
{
    TestContext.savePath = results.path();
    addressAtOpen = mainWindow->findChild<QLineEdit *>("addrdmm")->text();
    idleCaption = button("autotest")->text(); // in the language the window was made in
    setMeter(bench.meterResource());
    setPort(bench.boardPath());
    setText("filename", QStringLiteral("FAULT"));
    setText("tester", QStringLiteral("QA"));
}

WindowDriver::~WindowDriver()
{
    if (mainWindow && !isIdle())
        button("autotest")->click();
    closeWindow();
}

void WindowDriver::closeWindow()
{
    delete mainWindow;
    mainWindow = nullptr;
    // What goes with a deferred delete goes now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QPushButton *WindowDriver::button(const char *objectName) const
{
    return mainWindow->findChild<QPushButton *>(objectName);
}

void WindowDriver::setText(const char *objectName, const QString &text)
{
    mainWindow->findChild<QLineEdit *>(objectName)->setText(text);
}

void WindowDriver::setParams(const QStringList &values)
{
    for (int i = 0; i < values.size(); ++i)
        mainWindow->findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(i + 1))->setText(values[i]);
}

void WindowDriver::setMeter(const QString &resource)
{
    setText("addrdmm", resource);
}

void WindowDriver::setPort(const QString &path, bool ticked)
{
    auto *enable = mainWindow->findChild<QCheckBox *>("enableuart");
    enable->setChecked(false);
    enable->setChecked(ticked);
    mainWindow->findChild<QComboBox *>("modeluart")->setEditText(path);
}

void WindowDriver::selectTest(int index)
{
    mainWindow->findChild<QComboBox *>("testname")->setCurrentIndex(index);
}

void WindowDriver::clickStart()
{
    QTest::mouseClick(button("autotest"), Qt::LeftButton);
}

void WindowDriver::clickSingleStep()
{
    QTest::mouseClick(button("singletest"), Qt::LeftButton);
}

bool WindowDriver::isIdle() const
{
    return button("autotest")->text() == idleCaption;
}

bool WindowDriver::waitIdle(int timeoutMs)
{
    return waitUntil([this] { return isIdle(); }, timeoutMs);
}

// QTest::qWaitFor sleeps between its passes, which holds up every wait of a
// run; a real event loop lets the run go at its own pace.
bool WindowDriver::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    if (condition())
        return true;
    poll.start(2);
    loop.exec();
    return condition();
}

bool WindowDriver::stopAndStayStopped(int quietMs)
{
    if (!isIdle())
        clickStart();
    if (!isIdle() || starts() != stops())
        return false;
    // The stopped run ends on its own thread, a phase it was in the midst of
    // with it; from the moment its record says it ended, no step may follow.
    const auto ended = [] {
        const std::optional<RunRecord> record = RunRecord::readBeside(TestContext.resultFilePath);
        return !record || record->hasEnded();
    };
    if (!waitUntil(ended, 10000))
        return false;
    const int steps = stepLines();
    QTest::qWait(quietMs);
    return stepLines() == steps;
}

int WindowDriver::stepLines() const
{
    static const QRegularExpression step(
        QStringLiteral("TestThread: (\\d+ / \\d+|Delay: |DMM Measure: )"));
    return int(capture.lines().filter(step).size());
}

QString WindowDriver::logLine(const QString &part) const
{
    return capture.lines().filter(part).value(0);
}

int WindowDriver::logCount(const QString &part) const
{
    return int(capture.lines().filter(part).size());
}

QByteArray WindowDriver::resultBytes() const
{
    return fileBytes(TestContext.resultFilePath);
}
