#include "geometry/line_seg.h"

#include "geometry/bbox.h"
#include "geometry/perim.h"

CLineSeg::CLineSeg() : penNumber(1), lineType(0), lineWidth(0), geometryType(0), points(10)
{
}

CLineSeg::CLineSeg(int type) : CLineSeg()
{
    if (type >= 0 && type <= 2)
        lineType = type;
}

CLineSeg::~CLineSeg()
{
    RemovePointsInLineSeg();
}

void CLineSeg::SetLineType(int type)
{
    if (type >= 0 && type <= 2)
        lineType = type;
}

POSITION CLineSeg::AddPoint(long x, long y)
{
    auto px = static_cast<std::int32_t>(x);
    auto py = static_cast<std::int32_t>(y);
    if (!points.IsEmpty())
    {
        const CCoord* last = GetLastPoint();
        if (last->x == px && last->y == py)
            return nullptr;
    }
    // Made in place rather than through a temporary and AddPoint(CCoord*): this runs once for
    // every point a host sends and every point the fat-line pass makes.
    auto* fresh = new CCoord(px, py);
    try
    {
        return points.AddTail(fresh);
    }
    catch (...)
    {
        // The node could not be allocated: the point reached no list, so it is ours to free.
        delete fresh;
        throw;
    }
}

POSITION CLineSeg::AddPoint(CCoord* point)
{
    auto* fresh = new CCoord(*point);
    try
    {
        return points.AddTail(fresh);
    }
    catch (...)
    {
        // The node could not be allocated: the point reached no list, so it is ours to free.
        delete fresh;
        throw;
    }
}

void CLineSeg::CopyLineSeg(CLineSeg* src, int first, int n)
{
    geometryType = src->geometryType;
    penNumber = src->penNumber;
    lineType = src->lineType;
    lineWidth = src->lineWidth;
    if (first < 0)
        first = 0;
    // Wide arithmetic: first + n must not wrap for callers asking for "everything from here".
    long long last = n == -1 ? static_cast<long long>(src->GetPointCount()) - 1
                             : static_cast<long long>(first) + n;
    long long i = 0;
    for (POSITION position = src->GetHeadPosition(); position != nullptr && i <= last; ++i)
    {
        CCoord* point = src->GetNextPoint(position);
        if (i >= first)
            AddPoint(point);
    }
}

int CLineSeg::RemovePointsInLineSeg()
{
    while (!points.IsEmpty())
    {
        delete points.GetHead();
        points.RemoveHead();
    }
    points.RemoveAll();
    return 1;
}

void CLineSeg::UpdateBoundingBoxes(CPerim* piece, CBBox* box)
{
    if (geometryType != 0)
        return;
    for (POSITION position = GetHeadPosition(); position != nullptr;)
    {
        CCoord* point = GetNextPoint(position);
        piece->box.Update(*point);
        box->Update(*point);
    }
}
