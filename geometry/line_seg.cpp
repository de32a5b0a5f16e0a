#include "geometry/line_seg.h"

#include "geometry/bbox.h"
#include "geometry/line_seg_internal.h"
#include "geometry/perim.h"
#include "platform/allocation_internal.h"
#include "platform/ob_list_delete_internal.h"
#include "platform/ob_list_internal.h"

#include <cassert>
#include <typeinfo>

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

namespace genplot::detail
{

void AppendPoints(CLineSeg& line, const PlotPoint* points, int count)
{
    assert(count <= kMaxAppend);
    // The points that stay, first: the runs are then carved for exactly those.
    PlotPoint kept[kMaxAppend];
    std::size_t keptCount = 0;
    PlotPoint last{};
    bool haveLast = !line.points.IsEmpty();
    if (haveLast)
        last = {line.GetLastPoint()->x, line.GetLastPoint()->y};
    for (const PlotPoint* point = points; point != points + count; ++point)
    {
        if (!haveLast || point->x != last.x || point->y != last.y)
            kept[keptCount++] = *point;
        last = *point;
        haveLast = true;
    }

    const PlotPoint* next = kept;
    while (keptCount > 0)
    {
        void* first = nullptr;
        std::size_t run = AllocateRun(sizeof(CCoord), keptCount, &first);
        auto* coords = static_cast<CCoord*>(first);
        INT_PTR before = line.points.GetCount();
        try
        {
            ObListAccess::AppendToTail(line.points, run, [coords, next](std::size_t i) {
                return static_cast<CObject*>(new (coords + i) CCoord(next[i].x, next[i].y));
            });
        }
        catch (...)
        {
            // A node could not be had: the blocks of the run not yet made into linked points
            // are ours to free.
            for (auto i = static_cast<std::size_t>(line.points.GetCount() - before); i < run; ++i)
                Free(coords + i, sizeof(CCoord));
            throw;
        }
        next += run;
        keptCount -= run;
    }
}

} // namespace genplot::detail

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
    // A point that is a CCoord and nothing more has nothing for its destructor to do: its
    // block goes straight back to the allocation path. Anything else is deleted as itself.
    genplot::detail::DeleteAllAndRemove(points, [](CObject* point) {
        if (typeid(*point) == typeid(CCoord))
            genplot::detail::Free(point, sizeof(CCoord));
        else
            delete point;
    });
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
