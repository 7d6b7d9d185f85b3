#pragma once

#include "tools/benchsim/ReadingSource.h"

// A reading source that always gives the same value.
class FixedReading : public ReadingSource
{
public:
    explicit FixedReading(double value = 0.0) : value(value) {}
    double nextReading() override { return value; }
    void setValue(double newValue) { value = newValue; }

private:
    double value;
};
