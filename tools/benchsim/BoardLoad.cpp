#include "tools/benchsim/BoardLoad.h"

#include "tools/boardsim/SimulatedBoard.h"

double BoardLoad::nextReading()
{
    const qint64 code = board != nullptr ? board->lastValue().value_or(0) : 0;
    return idle + perCode * double(code);
}
