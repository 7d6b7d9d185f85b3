#pragma once

#include "RunEngine.h"

#include <QString>

#include <cstdio>

// Shows a run's progress on standard output: on a terminal one bar redrawn in
// place, otherwise one plain line per completed step, for logs and scripts.
// Percentage and remaining time are the run's own, as the window shows them.
class ProgressPrinter
{
public:
    ProgressPrinter(std::FILE *out, bool terminal);

    void show(const RunProgress &progress);
    void stepCompleted(const RunProgress &progress);
    // Ends the bar's line, so that what follows starts on a line of its own.
    void finish();
    // Clear the bar for a line written to the same terminal, then redraw it.
    void stepAside();
    void comeBack();

    // The remaining time out of the progress text: "2m 15s", "finished" at
    // the end, "--" while there is no estimate yet.
    static QString remainingTime(const QString &progressText);
    static QString plainLine(const RunProgress &progress);
    static QString barLine(const RunProgress &progress);

private:
    void draw();

    std::FILE *out;
    bool terminal;
    bool drawn = false;
    RunProgress current;
};
