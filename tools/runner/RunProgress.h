#pragma once

#include <QString>

// The window's progress display at one moment of a run.
struct RunProgress
{
    qint64 done = 0;    // completed steps
    qint64 total = 0;   // steps of the run (Var_1)
    int percent = 0;    // the progress bar's value
    QString windowText; // the text under the bar, e.g. "进度：40%  ( 2m 15s )"

    bool operator==(const RunProgress &other) const
    {
        return done == other.done && total == other.total && percent == other.percent &&
               windowText == other.windowText;
    }
    bool operator!=(const RunProgress &other) const { return !(*this == other); }
};
