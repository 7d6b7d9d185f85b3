#include "TestFactory.h"

#include "TestDAC.h"
#include "TestISINK.h"

bool isKnownTest(int index)
{
    return index == 0 || index == 1;
}

QThread *createTest(int index, MainWindowForm *ui, QObject *window)
{
    switch (index) {
    case 0:
        return new TestDAC(ui, window);
    case 1:
        return new TestISINK(ui, window);
    default:
        return nullptr;
    }
}
