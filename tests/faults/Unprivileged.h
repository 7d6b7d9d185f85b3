#pragma once

#include <QString>

// While it exists, this thread reaches files as an ordinary user would: as
// root (containers, CI) the file-system identity drops to "nobody", which
// also drops root's right to ignore permissions; otherwise nothing changes.
// Only the calling thread is affected, and only until the scope ends.
class Unprivileged
{
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

    static bool isRoot();
    // Lets everybody read and write `path` (a folder, a device), so that a
    // run without root's rights still reaches what the case does not break.
    static bool openToAll(const QString &path);
    // Hands `path` to the user the scope switches to (root only; true otherwise).
    static bool giveToUser(const QString &path);

private:
    bool switched = false;
};
