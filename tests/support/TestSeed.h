#pragma once

#include <QRandomGenerator>
#include <QtGlobal>

#include <cstdio>

// The seed of a randomized test: $BENCHTEST_SEED when set, so that a failure
// replays exactly, else a fresh one. Printed either way, for the replay.
inline quint32 testSeed(const char *test)
{
    bool given = false;
    const quint32 seed = qEnvironmentVariable("BENCHTEST_SEED").toUInt(&given);
    const quint32 chosen = given ? seed : QRandomGenerator::global()->generate();
    std::printf("%s: seed %u (replay: BENCHTEST_SEED=%u)\n", test, chosen, chosen);
    std::fflush(stdout);
    return chosen;
}
