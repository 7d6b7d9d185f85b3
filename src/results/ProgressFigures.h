#pragma once

#include <QString>

// How far a run has come and how long it will still take, by linear
// extrapolation of the time spent so far: remaining = (total - done) x
// elapsed / done. The one estimate every display of a run shows: the
// window's progress text and the runner's line are both made from it.
struct ProgressFigures
{
    int percent = 0;        // done x 100 / total, truncated
    qint64 remainingMs = 0; // may be negative when the clock gave a negative elapsed time
    bool known = false;     // false without a completed step (or without steps)
};

ProgressFigures progressFigures(qint64 elapsedMs, qint64 total, qint64 done);

// The remaining time as the progress text shows it: the largest unit by
// magnitude and every smaller one ("2m 15s", "1h 0m 0s", "1d 0h 0m 0s",
// "-2s"), milliseconds dropped.
QString remainingTimeText(qint64 remainingMs);
