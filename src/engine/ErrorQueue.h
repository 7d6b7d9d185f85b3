#pragma once

#include <QString>

#include <functional>

// An instrument's SCPI error queue, read with SYST:ERR? until it reports no
// error: what a set-up left there.
namespace ErrorQueue {

// A queue that does not empty after this many entries never will.
constexpr int kMaxEntries = 32;

// "+0,"No error"" and the like: the entry's number; false for a reply that is none.
[[nodiscard]] bool entryNumber(const QString &reply, int *number);

// Asks `ask` for entries until one reports no error; `timeLeft` is asked
// before each and ends the reading when false. Empty when the queue held no
// error; else why not, as the end of a sentence about the instrument, with
// `sent` (what it was told) after any errors it reports.
QString problem(const std::function<QString()> &ask, const std::function<bool()> &timeLeft,
                const QString &sent);

} // namespace ErrorQueue
