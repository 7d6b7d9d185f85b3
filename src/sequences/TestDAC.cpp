#include "TestDAC.h"

TestDAC::TestDAC(MainWindowForm *ui, QObject *window) : TestSequence(dacTestKind(), ui)
{
    attachToWindow(window);
}
