#pragma once

#include "sequences/TestSequence.h"

// The ISINK test: steps the board's ISINK value, one meter reading set per step.
class TestISINK : public TestSequence
{
    Q_OBJECT

public:
    template <class Window>
    TestISINK(RunDisplay *ui, Window *window) : TestSequence(isinkTestKind(), ui)
    {
        attachToWindow(window, this);
    }

public slots:
    void InitEnviroment() { initEnvironment(); }
    void DeinitEnviroment() { deinitEnvironment(); }
    void SingleStep() { singleStep(); }

private slots:
    void UartSendISINKValue() { sendValue(); }
    void DmmGetVolt() { takeReading(); }
    void CalcProgress() { calcProgress(); }
};
