#pragma once

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>

#include <array>
#include <atomic>

// One bench instrument as the operator configured it on the settings tab.
struct InstrumentConfig
{
    bool enabled = false;   // enable box ticked
    bool connected = false; // the driver holds an open, verified session
    QString model;
    QString address; // VISA resource string
};

// The serial link to the board under test.
struct SerialConfig
{
    bool enabled = false;
    QString portName;
    QSerialPort port; // the one port object all board traffic goes through
    QSerialPortInfo portInfo;
};

// The program-wide record through which the window hands the operator's
// choices to the tests and drivers, and through which they report back.
// The window fills it on its own thread before a run starts; from then until
// the run has ended, the run's engine, on a thread of its own, alone reads and
// writes the run's fields (names, folder, result file, the meter's address and
// state, the serial port). The one field the window changes during a run,
// autoRun, is atomic.
struct TestContextData
{
    InstrumentConfig dmm;
    InstrumentConfig pwr;
    InstrumentConfig osc;
    SerialConfig uart;
    qint32 testIndex = 0;
    QString testName;
    QString testItem;
    QString tester;
    QString savePath;
    QString resultFilePath;
    std::atomic<bool> autoRun{false};
    qint64 startTime = 0; // ms since the epoch when the run's first step is due
    std::array<QString, 12> vars;
};

extern TestContextData TestContext;
