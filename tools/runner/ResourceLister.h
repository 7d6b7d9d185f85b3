#pragma once

#include <QString>

#include <cstdio>

// benchtest-run --list-resources: every VISA resource that matches a search
// expression, with its answer to *IDN?.
class ResourceLister
{
public:
    // How long each resource gets to open and to answer.
    static constexpr unsigned QueryTimeoutMs = 1000;

    // Prints one line per resource to `out`; 0, or 2 for a malformed
    // pattern (the reason on `err`).
    static int run(const QString &pattern, FILE *out, FILE *err);
};
