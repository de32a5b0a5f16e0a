#pragma once

#include "platform/object.h"
#include "platform/point.h"

#include <cstdint>

/// An integer point in plot units.
class GENPLOT_API CCoord : public CObject
{
  public:
    /// (0, 0).
    CCoord() : x(0), y(0)
    {
    }
    CCoord(long xValue, long yValue)
        : x(static_cast<std::int32_t>(xValue)), y(static_cast<std::int32_t>(yValue))
    {
    }
    CCoord(const CCoord& other) : CObject(), x(other.x), y(other.y)
    {
    }
    ~CCoord() override;

    CCoord& operator=(const CCoord& other)
    {
        x = other.x;
        y = other.y;
        return *this;
    }
    /// 1 when both coordinates are equal, else 0.
    int operator==(CCoord other) const
    {
        return x == other.x && y == other.y ? 1 : 0;
    }

    /// Stores both coordinates through the pointers.
    void GetXY(long* xOut, long* yOut) const
    {
        *xOut = x;
        *yOut = y;
    }
    /// Three names for one operation: store x and y into a platform point.
    void GetPoint(CPoint* point) const
    {
        ToCPoint(point);
    }
    void ToCPoint(POINT* point) const
    {
        point->x = x;
        point->y = y;
    }
    void ToCPoint(POINT& point) const
    {
        ToCPoint(&point);
    }

    std::int32_t x;
    std::int32_t y;
};
