#pragma once

#include "report/PlotChart.h"
#include "report/ReportBuilder.h"

// The spread of the readings at each code: their standard deviation and their range (largest
// less smallest), in the report's unit with a prefix that suits their size.
class SpreadPlot
{
public:
    static PlotChart chart(const LinearityReport &report);
};
