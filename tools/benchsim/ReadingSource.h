#pragma once

// Where a simulated instrument gets the value of its next measurement. The
// meter asks once per reading; a source may follow anything (a constant, a
// simulated board's last value).
class ReadingSource
{
public:
    virtual ~ReadingSource() = default;
    virtual double nextReading() = 0;
};
