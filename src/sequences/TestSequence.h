#pragma once

#include "TestKind.h"

#include <QThread>

class DMM_34461A;
class FileOperation;
class StepTimer;
class UART;
struct MainWindowForm;
struct TestParams;

// The step machine every bench test runs: send the next value to the board,
// wait for it to settle, take the meter readings, append the row, repeat.
// It lives and runs on the main thread; the thread base is never started.
// A single-shot timer drives it, its timeout connected to the send or to the
// reading handler, whichever comes next.
class TestSequence : public QThread
{
public:
    ~TestSequence() override;

    // Milliseconds as the step timer takes them: negative waits run at once,
    // waits beyond the timer's range are clamped to its largest interval.
    static int timerInterval(qint64 ms);
    // A meter reply as it goes into the file: white space folded, "ERR" when empty.
    static QString readingCell(const QString &reply);
    // A parameter field's text as a number; anything that does not parse is 0.
    static qint64 parameter(const QString &text);
    // More readings per step than this are not taken: the column heading
    // names every reading of a step.
    static constexpr qint64 kMaxReadingsPerStep = 100000;

protected:
    TestSequence(const TestKind &kind, MainWindowForm *ui);

    // Logs the creation, connects the window's run signals to the derived
    // class's slots by name and shows the help text. Called by the derived
    // constructor, when its slots are known to the meta-object system.
    void attachToWindow(QObject *window);

    void initEnvironment();
    void deinitEnvironment();
    void singleStep();
    void sendValue();
    void takeReading();
    void calcProgress();

private:
    // Field Var_<index + 1> of the run as a number; logs text that is none.
    static qint64 runParameter(int index);
    void finish();
    void continueWith(void (TestSequence::*next)(), qint64 waitMs);
    void append(const QString &text, bool lineEnd);
    void releaseRun();

    const TestKind &kind;
    MainWindowForm *ui;
    TestParams *params = nullptr;
    FileOperation *fileOp = nullptr;
    DMM_34461A *dmmDriver = nullptr;
    UART *uartDriver = nullptr;
    StepTimer *stepTimer = nullptr;
};
