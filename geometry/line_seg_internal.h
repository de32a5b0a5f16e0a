#pragma once

#include "geometry/line_seg.h"

#include <cstdint>

namespace genplot::detail
{

/// A vertex by value, as the bulk append takes them.
struct PlotPoint
{
    std::int32_t x;
    std::int32_t y;
};

/// The same as `line.AddPoint(x, y)` for each point in order (a point equal to the one before
/// it, or for the first to the line's last point, is dropped), but the new points are made in
/// runs that lie together in memory, in order. At most kMaxAppend points a call. May throw
/// CMemoryException*; the points appended before the failure stay, as with AddPoint.
void AppendPoints(CLineSeg& line, const PlotPoint* points, int count);

constexpr int kMaxAppend = 64;

} // namespace genplot::detail
