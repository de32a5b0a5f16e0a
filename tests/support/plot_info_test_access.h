#pragma once

#include "plotinfo/plot_info.h"

/// Reaches the private passes of CPlotInfo (the class names it as its friend), for the tests and
/// for the benchmarks that time one pass on its own.
class PlotInfoTestAccess
{
  public:
    static double GetDistanceSquared(CPlotInfo& plot, CPerim* piece, CCoord* point)
    {
        return plot.GetDistanceSquared(piece, point);
    }
    static void MakeFatLines(CPlotInfo& plot)
    {
        plot.MakeFatLines();
    }
    static void OffsetLineSegs(CPlotInfo& plot, CObList& strokes, CLineSeg* line)
    {
        plot.OffsetLineSegs(strokes, line);
    }
};
