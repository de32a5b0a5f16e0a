#include "plotinfo/plot_info.h"

#include "geometry/label.h"
#include "geometry/perim.h"

namespace
{

// Deletes every element through its virtual destructor, then its node; null entries are skipped.
void DeleteAll(CObList& list)
{
    while (!list.IsEmpty())
    {
        delete list.GetHead();
        list.RemoveHead();
    }
}

} // namespace

CPlotInfo::CPlotInfo()
    : currentPen(1), defaultTextHeight(5000), configScale(10000.0), scaledValue1(10000.0),
      scaledValue2(10000.0), spareScale(10000.0), scaledValue3(10000.0), hostValue1(0),
      closeTolerance(0), looseLines(10), looseLabels(10), pieces(10), hostValue2(0), hostValue3(0),
      fatLineInset(50), fatLineSpacing(100), miterCosine(-0.5)
{
}

CPlotInfo::~CPlotInfo()
{
    RemovePerimeters();
    RemoveLabels();
    RemoveLooseLines();
    currentLine.RemovePointsInLineSeg();
}

void CPlotInfo::RemovePerimeters()
{
    DeleteAll(pieces);
}

void CPlotInfo::RemoveLabels()
{
    DeleteAll(looseLabels);
}

void CPlotInfo::RemoveLooseLines()
{
    DeleteAll(looseLines);
}
