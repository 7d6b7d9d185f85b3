#pragma once

#include "sequences/RunDisplay.h"

struct MainWindowForm;

// Shows a test object's run in the window's widgets: the description box, the
// status line, the progress bar and its text; ends a run with a click on Start.
class FormRunDisplay final : public RunDisplay
{
public:
    explicit FormRunDisplay(MainWindowForm *form) : form(form) {}

    void showHelp(const QString &text) override;
    void showStatus(const QString &text) override;
    void showProgress(const QString &text, int percent) override;
    void endRun() override;

private:
    MainWindowForm *form;
};
