#include "TestISINK.h"

TestISINK::TestISINK(MainWindowForm *ui, QObject *window) : TestSequence(isinkTestKind(), ui)
{
    attachToWindow(window);
}
