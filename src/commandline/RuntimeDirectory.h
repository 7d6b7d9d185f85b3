#pragma once

// While a GUI application starts, Qt looks into the session's runtime folder
// (XDG_RUNTIME_DIR) to learn whether it runs in a sandbox. Started without a
// desktop session (a server, ssh without a login manager, cron, a container)
// there is none, and Qt warns on every start though no program here uses the
// folder. This gives the process the private folder Qt itself falls back to,
// <temp>/runtime-<user>, before the application object exists. A folder that
// is not the user's own or not private is left alone, so that Qt still says
// what is wrong with it.
void provideRuntimeDirectory();
