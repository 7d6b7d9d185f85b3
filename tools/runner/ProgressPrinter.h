#pragma once

#include "engine/RunEngine.h"

#include <QString>

#include <cstdio>

// Shows a run's progress on standard output: on a terminal one bar redrawn in
// place, otherwise one plain line per completed step, for logs and scripts.
// The numbers are the engine's: steps, percentage, elapsed and remaining time.
class ProgressPrinter
{
public:
    ProgressPrinter(std::FILE *out, bool terminal);

    // Redraws the bar (on a terminal only): the clock goes on between steps.
    void show(const RunProgress &progress);
    void stepCompleted(const RunProgress &progress);
    // Ends the bar's line, so that what follows starts on a line of its own.
    void finish();
    // Clear the bar for a line written to the same terminal, then redraw it.
    void stepAside();
    void comeBack();

    // "1h 0m 5s", "2m 15s", "45s": every unit below the largest one shown.
    static QString duration(qint64 seconds);
    static QString plainLine(const RunProgress &progress);
    static QString barLine(const RunProgress &progress);

private:
    void draw();

    std::FILE *out;
    bool terminal;
    bool drawn = false;
    RunProgress current;
};
