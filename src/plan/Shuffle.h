#pragma once

#include <QtGlobal>

#include <vector>

// The generator behind a shuffled sweep: SplitMix64, whose plain 64-bit
// arithmetic gives the same numbers for a seed on every machine and compiler
// (docs/plan.md has the algorithm in a few lines of Python).
class SplitMix64
{
public:
    explicit SplitMix64(quint64 seed) : state(seed) {}

    quint64 next();
    // Uniform in [0, bound) for bound >= 1, without modulo bias: outputs below
    // 2^64 mod bound are drawn again.
    quint64 below(quint64 bound);

private:
    quint64 state;
};

// Fisher-Yates from the last element down: element i changes places with
// element below(i + 1), for i = size - 1 … 1.
void shuffle(std::vector<qint32> &codes, SplitMix64 &generator);
