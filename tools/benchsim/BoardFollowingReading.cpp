#include "tools/benchsim/BoardFollowingReading.h"

#include "tools/benchsim/SimMultimeter.h"
#include "tools/boardsim/SimulatedBoard.h"

BoardFollowingReading::BoardFollowingReading(const SimulatedBoard &board, const OutputModel &model,
                                             double voltageNoise, double currentNoise, quint32 seed)
    : board(board), model(model), voltageNoise(voltageNoise), currentNoise(currentNoise),
      random(seed)
{}

double BoardFollowingReading::noise(double sigma)
{
    if (sigma <= 0.0)
        return 0.0;
    return std::normal_distribution<double>(0.0, sigma)(random);
}

double BoardFollowingReading::nextReading()
{
    // Before the first frame the board's output sits at code 0.
    const qint64 code = board.lastValue().value_or(0);
    if (meter && meter->function() == SimMultimeter::Function::DcCurrent)
        return model.current(code) + noise(currentNoise);
    return model.voltage(code) + noise(voltageNoise);
}
