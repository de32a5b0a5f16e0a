#include "geometry/perim.h"

#include "geometry/label.h"
#include "platform/ob_list_delete_internal.h"

using genplot::detail::DeleteAllAndRemove;

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
    DeleteAllAndRemove(labels);
}

void CPerim::DeleteNonPerimeterLines()
{
    DeleteAllAndRemove(nonPerimeterLines);
}
