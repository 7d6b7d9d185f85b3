#pragma once

#include <QtGlobal>

// The parameters of one run and where it stands.
struct TestParams
{
    qint64 repeatCount = 0;      // steps in the run
    qint64 settleMs = 0;         // wait after a value is sent
    qint64 sampleCount = 0;      // readings per step
    qint64 sampleIntervalMs = 0; // wait between two readings of a step
    qint64 step = 0;             // completed steps; the value sent is step + 1
    qint64 sample = 0;           // readings taken in the current step
};
