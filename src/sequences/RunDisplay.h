#pragma once

#include <QString>

// What a test object shows of its run, and how it hands a finished run back
// to the run control. The window implements it on its widgets.
class RunDisplay
{
public:
    virtual void showHelp(const QString &text) = 0;                  // the test description
    virtual void showStatus(const QString &text) = 0;                // the current action
    virtual void showProgress(const QString &text, int percent) = 0; // bar and remaining time
    // The run is over: press Start as the operator would, which stops it.
    virtual void endRun() = 0;

protected:
    ~RunDisplay() = default;
};
