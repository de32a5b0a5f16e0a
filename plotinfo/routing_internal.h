#pragma once

#include "geometry/bbox.h"
#include "geometry/line_seg.h"

namespace genplot::detail
{

/// The box of every point of `line`, whatever its geometry type; empty for an empty line.
CBBox LineBox(const CLineSeg& line);

/// Appends the chunks of `source` (not empty) to `destination` by the chunk rule. When one
/// chunk holds the whole line, the chunk takes the source's points over instead of copying
/// them and the source is left without points; otherwise the source is unchanged. On an
/// allocation failure the source keeps all its points and the chunks already appended stay.
void AppendChunksTakingPoints(CLineSeg* source, CObList& destination);

/// The last step of finalisation: grows each piece's box, and `extents`, by the piece's outline,
/// then its lines, then its labels, piece by piece in list order. Null lines and labels are
/// skipped. Allocates nothing.
void GrowPieceBoxes(CObList& pieces, CBBox& extents);

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
