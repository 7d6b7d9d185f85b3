#pragma once

#include <functional>

// Where the window's log goes while the runner drives it: nowhere, or with
// `verbose` to standard error, never to standard output. Critical and fatal
// messages always reach standard error.
class RunLog
{
public:
    static void install(bool verbose);
    // Called around every line written, so that a progress bar on the same
    // terminal can step aside and come back.
    static void setLineGuard(std::function<void()> before, std::function<void()> after);
};
