#include <cstdio>
#include <genplot.h>

// Touches one class of each layer through the installed package; exits 0 only when the
// library behaves, so a missing export fails at link time and a broken install at run time.
int main()
{
    CLineSeg line;
    line.AddPoint(3, 4);
    line.AddPoint(3, 4);
    line.AddPoint(5, 6);
    CBBox box;
    box.Update(*line.GetFirstPoint());
    CCoord inside(3, 4);
    CPlotInfo plot;
    std::printf("points=%d inside=%d pieces=%d\n", line.GetPointCount(), box.IsPtInBbox(&inside),
                static_cast<int>(plot.pieces.GetCount()));
    return line.GetPointCount() == 2 && box.IsPtInBbox(&inside) == 1 && plot.pieces.IsEmpty() ? 0
                                                                                              : 1;
}
