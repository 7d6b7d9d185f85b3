#pragma once

#include <QString>
#include <QStringList>

// What tells one bench test from another; the step machine is shared.
struct TestKind
{
    QString title;          // the test's entry in the window's list, heads the result file
    QString valueName;      // "DAC": column title, log and status texts
    const char *quantity;   // what the meter measures, for the description (translatable)
    QStringList meterSetup; // SCPI commands sent once at the start

    // The test description box's text, in the window's language.
    [[nodiscard]] QString description() const;
};

const TestKind &dacTestKind();
const TestKind &isinkTestKind();
