#include "RunDriver.h"

#include "ContextReset.h"
#include "MainWindow.h"
#include "SimulatedBench.h"
#include "TestContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QString kIdle = QStringLiteral("自动测试");

MainWindow *freshWindow()
{
    resetTestContext();
    return new MainWindow;
}

} // namespace

RunDriver::RunDriver(const SimulatedBench &bench)
    : mainWindow(freshWindow()), initSpy(mainWindow, &MainWindow::InitTest),
      deinitSpy(mainWindow, &MainWindow::DeinitTest)
{
    TestContext.savePath = results.path();
    addressAtOpen = mainWindow->findChild<QLineEdit *>("addrdmm")->text();
    setMeter(bench.meterResource());
    setPort(bench.boardPath());
    setText("filename", QStringLiteral("FAULT"));
    setText("tester", QStringLiteral("QA"));
}

RunDriver::~RunDriver()
{
    if (!isIdle())
        button("autotest")->click();
    delete mainWindow;
    QTest::qWait(20); // lets the released step timer go
}

QPushButton *RunDriver::button(const char *objectName) const
{
    return mainWindow->findChild<QPushButton *>(objectName);
}

void RunDriver::setText(const char *objectName, const QString &text)
{
    mainWindow->findChild<QLineEdit *>(objectName)->setText(text);
}

void RunDriver::setParams(const QStringList &values)
{
    for (int i = 0; i < values.size(); ++i)
        mainWindow->findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(i + 1))->setText(values[i]);
}

void RunDriver::setMeter(const QString &resource)
{
    setText("addrdmm", resource);
}

void RunDriver::setPort(const QString &path, bool ticked)
{
    auto *enable = mainWindow->findChild<QCheckBox *>("enableuart");
    enable->setChecked(false);
    enable->setChecked(ticked);
    mainWindow->findChild<QComboBox *>("modeluart")->setEditText(path);
}

void RunDriver::selectTest(int index)
{
    mainWindow->findChild<QComboBox *>("testname")->setCurrentIndex(index);
}

void RunDriver::clickStart()
{
    QTest::mouseClick(button("autotest"), Qt::LeftButton);
}

void RunDriver::clickSingleStep()
{
    QTest::mouseClick(button("singletest"), Qt::LeftButton);
}

bool RunDriver::isIdle() const
{
    return button("autotest")->text() == kIdle;
}

bool RunDriver::waitIdle(int timeoutMs)
{
    return QTest::qWaitFor([this] { return isIdle(); }, timeoutMs);
}

bool RunDriver::stopAndStayStopped(int quietMs)
{
    if (!isIdle())
        clickStart();
    if (!isIdle() || starts() != stops())
        return false;
    const int logged = int(capture.lines().size());
    QTest::qWait(quietMs);
    return capture.lines().size() == logged;
}

QString RunDriver::logLine(const QString &part) const
{
    for (const QString &line : capture.lines()) {
        if (line.contains(part))
            return line;
    }
    return QString();
}

int RunDriver::logCount(const QString &part) const
{
    int count = 0;
    for (const QString &line : capture.lines())
        count += line.contains(part) ? 1 : 0;
    return count;
}

QByteArray RunDriver::resultBytes() const
{
    QFile file(TestContext.resultFilePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
