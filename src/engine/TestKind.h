#pragma once

#include <QString>
#include <QStringList>

// What tells one bench test from another; the step machine is shared.
struct TestKind
{
    QString title;          // the test's entry in the window's list, heads the result file
    QString valueName;      // "DAC": column title, log and status texts
    QString helpText;       // shown in the test description box
    QStringList meterSetup; // SCPI commands sent once at the start
};

const TestKind &dacTestKind();
const TestKind &isinkTestKind();
