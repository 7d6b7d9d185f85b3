#include "tests/support/ContextReset.h"

#include "context/TestContext.h"

void resetTestContext()
{
    for (InstrumentConfig *instrument : {&TestContext.dmm, &TestContext.pwr, &TestContext.osc})
        *instrument = InstrumentConfig();
    SerialConfig &uart = TestContext.uart;
    uart.port.close();
    uart.port.setPortName(QString());
    uart.enabled = false;
    uart.portName.clear();
    uart.portInfo = QSerialPortInfo();
    TestContext.testIndex = 0;
    TestContext.testName.clear();
    TestContext.testItem.clear();
    TestContext.tester.clear();
    TestContext.savePath.clear();
    TestContext.resultFilePath.clear();
    TestContext.autoRun = false;
    TestContext.startTime = 0;
    for (QString &var : TestContext.vars)
        var.clear();
}
