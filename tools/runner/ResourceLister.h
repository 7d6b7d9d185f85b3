#pragma once

#include <QString>

#include <cstddef>
#include <cstdio>
#include <string>

// benchtest-run --list-resources: every VISA resource that matches a search
// expression, with its answer to *IDN?. The instruments are asked all at
// once, so the whole listing takes at most SearchLimitMs however many
// answer; serial ports are only asked when the user says so, since bytes
// sent to an unknown serial device (the board under test) can make it act.
class ResourceLister
{
public:
    // Each resource's time to open, take *IDN? and answer, all in one.
    static constexpr unsigned QueryTimeoutMs = 1000;
    // The most resources asked; the rest are listed without asking.
    static constexpr std::size_t MaxAsked = 128;
    // What a listing may take at most: the search, the queries and closing.
    static constexpr unsigned SearchLimitMs = 3000;

    // Prints one line per resource to `out`; 0, or 2 for a malformed
    // pattern (the reason on `err`).
    static int run(const QString &pattern, bool probeSerial, FILE *out, FILE *err);

    // `text` on one line with nothing a terminal acts on: backslash, tab,
    // line ends and every byte outside printable ASCII as C escapes.
    static std::string printable(const std::string &text);
};
