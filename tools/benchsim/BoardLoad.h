#pragma once

#include "tools/benchsim/ReadingSource.h"

class SimulatedBoard;

// The current the board draws from the supply: an idle current plus a term
// proportional to the board's last value (code 0 before the first frame, or
// without a board).
class BoardLoad : public ReadingSource
{
public:
    BoardLoad(const SimulatedBoard *board, double idleAmperes, double amperesPerCode)
        : board(board), idle(idleAmperes), perCode(amperesPerCode)
    {}
    double nextReading() override;

private:
    const SimulatedBoard *board;
    double idle;
    double perCode;
};
