#pragma once

#include "sequences/TestSequence.h"

// The DAC test: steps the board's DAC value, one meter reading set per step.
class TestDAC : public TestSequence
{
    Q_OBJECT

public:
    template <class Window>
    TestDAC(RunDisplay *ui, Window *window) : TestSequence(dacTestKind(), ui)
    {
        attachToWindow(window, this);
    }

public slots:
    void InitEnviroment() { initEnvironment(); }
    void DeinitEnviroment() { deinitEnvironment(); }
    void SingleStep() { singleStep(); }

private slots:
    void UartSendDACValue() { sendValue(); }
    void DmmGetVolt() { takeReading(); }
    void CalcProgress() { calcProgress(); }
};
