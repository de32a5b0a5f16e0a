#include "geometry/perim.h"

#include "geometry/label.h"

namespace
{

void DeleteAll(CObList& list)
{
    while (!list.IsEmpty())
    {
        delete list.GetHead();
        list.RemoveHead();
    }
}

} // namespace

CPerim::CPerim() : boxPerimeter(0.0), nonPerimeterLines(10), labels(10)
{
}

CPerim::~CPerim()
{
    RemoveLabels();
    DeleteNonPerimeterLines();
}

void CPerim::RemoveLabels()
{
    DeleteAll(labels);
}

void CPerim::DeleteNonPerimeterLines()
{
    DeleteAll(nonPerimeterLines);
}
