#include "plan/Shuffle.h"

#include <utility>

quint64 SplitMix64::next()
{
    state += 0x9E3779B97F4A7C15ULL;
    quint64 z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

quint64 SplitMix64::below(quint64 bound)
{
    // 2^64 mod bound, in 64-bit arithmetic.
    const quint64 threshold = (0 - bound) % bound;
    while (true) {
        const quint64 value = next();
        if (value >= threshold)
            return value % bound;
    }
}

void shuffle(std::vector<qint32> &codes, SplitMix64 &generator)
{
    for (size_t i = codes.size(); i-- > 1;)
        std::swap(codes[i], codes[size_t(generator.below(quint64(i) + 1))]);
}
