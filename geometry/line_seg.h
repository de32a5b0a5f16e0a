#pragma once

#include "geometry/coord.h"
#include "platform/ob_list.h"

#include <cstdint>

class CBBox;
class CPerim;

/// A polyline: owned points plus the drawing attributes the writer needs.
class GENPLOT_API CLineSeg : public CObject
{
  public:
    /// Defaults: pen 1, line type 0, width 0, geometry type 0, no points.
    CLineSeg();
    /// As the default, with `lineType` when it is 0, 1 or 2 and 0 otherwise.
    explicit CLineSeg(int lineType);
    /// Deletes every point.
    ~CLineSeg() override;
    CLineSeg(const CLineSeg&) = delete;
    CLineSeg& operator=(const CLineSeg&) = delete;

    int GetLineType() const
    {
        return lineType;
    }
    /// Ignores values outside 0..2.
    void SetLineType(int type);
    int GetLineWidth() const
    {
        return lineWidth;
    }
    /// No range check.
    void SetLineWidth(int width)
    {
        lineWidth = width;
    }
    int GetGeometryType() const
    {
        return geometryType;
    }
    int GetPointCount() const
    {
        return static_cast<int>(points.GetCount());
    }

    /// Appends a fresh point unless it equals the last one; returns its position, or null
    /// when the point was dropped as a repeat. May throw CMemoryException*.
    POSITION AddPoint(long x, long y);
    POSITION AddPoint(CCoord point)
    {
        return AddPoint(point.x, point.y);
    }
    /// Appends a copy of `*point` with no repeat test. May throw CMemoryException*.
    POSITION AddPoint(CCoord* point);

    POSITION GetHeadPosition() const
    {
        return points.GetHeadPosition();
    }
    /// Head and tail points; the line must not be empty.
    CCoord* GetFirstPoint() const
    {
        return static_cast<CCoord*>(points.GetHead());
    }
    CCoord* GetLastPoint() const
    {
        return static_cast<CCoord*>(points.GetTail());
    }
    /// The point at `position`; moves `position` to the next (previous) point, null past the end.
    CCoord* GetNextPoint(POSITION& position) const
    {
        return static_cast<CCoord*>(points.GetNext(position));
    }
    CCoord* GetPrevPoint(POSITION& position) const
    {
        return static_cast<CCoord*>(points.GetPrev(position));
    }
    long GetX(POSITION position) const
    {
        return static_cast<CCoord*>(points.GetAt(position))->x;
    }
    long GetY(POSITION position) const
    {
        return static_cast<CCoord*>(points.GetAt(position))->y;
    }
    void GetXY(POSITION position, long* x, long* y) const
    {
        static_cast<CCoord*>(points.GetAt(position))->GetXY(x, y);
    }

    /// Takes over the source's attributes and appends copies of its points with indices
    /// max(first, 0) through `first + n` (through the last when `n` is -1), inclusive.
    /// May throw CMemoryException*; the points appended before the failure stay.
    void CopyLineSeg(CLineSeg* src, int first, int n);
    /// Deletes every point; the attributes stay. Always 1.
    int RemovePointsInLineSeg();
    /// Grows the piece's box, then `box`, by every point; nothing for a non-zero geometry type.
    /// `piece` must not be null.
    void UpdateBoundingBoxes(CPerim* piece, CBBox* box);

    std::int32_t penNumber;
    std::int32_t lineType;
    std::int32_t lineWidth;
    std::int32_t geometryType;
    CObList points;
};
