#pragma once

#include "geometry/bbox.h"
#include "geometry/line_seg.h"

namespace genplot::detail
{

/// The box of every point of `line`, whatever its geometry type; empty for an empty line.
CBBox LineBox(const CLineSeg& line);

/// True when the boxes share at least one point, edges included; never for an empty box.
/// A line none of whose points can lie in `box` is told apart by this alone, so routing may
/// skip the point-by-point test.
inline bool BoxesMeet(const CBBox& a, const CBBox& b)
{
    return a.lowerLeft.x <= b.upperRight.x && b.lowerLeft.x <= a.upperRight.x &&
           a.lowerLeft.y <= b.upperRight.y && b.lowerLeft.y <= a.upperRight.y &&
           a.lowerLeft.x <= a.upperRight.x && b.lowerLeft.x <= b.upperRight.x;
}

} // namespace genplot::detail
