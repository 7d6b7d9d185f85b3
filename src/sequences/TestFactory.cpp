#include "TestFactory.h"

bool isKnownTest(int index)
{
    return index == 0 || index == 1;
}

QThread *createTest(int, MainWindowForm *, QObject *)
{
    return nullptr;
}
