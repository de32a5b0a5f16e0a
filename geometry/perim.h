#pragma once

#include "geometry/bbox.h"
#include "geometry/line_seg.h"
#include "platform/ob_list.h"

/// A piece: a closed outline and everything drawn inside it. Owns its non-perimeter lines and
/// its labels; the outline owns its points.
class GENPLOT_API CPerim : public CObject
{
  public:
    /// Empty box, empty outline, empty lists, size key 0.0.
    CPerim();
    /// Deletes the labels, then the non-perimeter lines, then the outline's points.
    ~CPerim() override;
    CPerim(const CPerim&) = delete;
    CPerim& operator=(const CPerim&) = delete;

    /// Appends a vertex to the outline unless it repeats the last; null position when dropped.
    POSITION AddPPt(long x, long y)
    {
        return outline.AddPoint(x, y);
    }
    POSITION AddPPt(CPoint point)
    {
        return outline.AddPoint(point.x, point.y);
    }

    POSITION GetHeadPosition() const
    {
        return outline.GetHeadPosition();
    }
    CCoord* GetFirstPoint() const
    {
        return outline.GetFirstPoint();
    }
    CCoord* GetLastPoint() const
    {
        return outline.GetLastPoint();
    }
    int GetPointCount() const
    {
        return outline.GetPointCount();
    }
    CCoord* GetNextPoint(POSITION& position) const
    {
        return outline.GetNextPoint(position);
    }
    CCoord* GetPrevPoint(POSITION& position) const
    {
        return outline.GetPrevPoint(position);
    }
    long perimGetX(POSITION position) const
    {
        return outline.GetX(position);
    }
    long perimGetY(POSITION position) const
    {
        return outline.GetY(position);
    }
    void perimGetXY(POSITION position, long* x, long* y) const
    {
        outline.GetXY(position, x, y);
    }

    /// Deletes every label and empties `labels`.
    void RemoveLabels();
    /// Deletes every non-perimeter line and empties `nonPerimeterLines`.
    void DeleteNonPerimeterLines();

    /// Size key: 2 × (width + height) of the outline's box, set when made from a closed stroke.
    double boxPerimeter;
    CBBox box;
    CLineSeg outline;
    /// Lines drawn inside the piece (CLineSeg*), owned.
    CObList nonPerimeterLines;
    /// Labels of the piece (CLabel*), owned.
    CObList labels;
};
