#pragma once

#include "tools/benchsim/OutputModel.h"
#include "tools/benchsim/ReadingSource.h"

#include <random>

class SimMultimeter;
class SimulatedBoard;

// The meter's reading when it measures the simulated board: the output the
// board's last received value produces, in the quantity the meter is set up
// for (volts or amperes), with seeded Gaussian noise.
class BoardFollowingReading : public ReadingSource
{
public:
    BoardFollowingReading(const SimulatedBoard &board, const OutputModel &model,
                          double voltageNoise, double currentNoise, quint32 seed);

    // The meter whose function (DC voltage or current) picks the quantity.
    void measureWith(const SimMultimeter *meter) { this->meter = meter; }
    double nextReading() override;

private:
    double noise(double sigma);

    const SimulatedBoard &board;
    const OutputModel model;
    const SimMultimeter *meter = nullptr;
    double voltageNoise;
    double currentNoise;
    std::mt19937 random;
};
