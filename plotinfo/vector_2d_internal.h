#pragma once

#include "platform/object.h"

#include <cmath>

/// A direction or normal of the fat-line pass, in double precision.
class CVector2D : public CObject
{
  public:
    /// (0.0, 0.0).
    CVector2D() : x(0.0), y(0.0)
    {
    }
    CVector2D(double xValue, double yValue) : x(xValue), y(yValue)
    {
    }
    CVector2D(const CVector2D& other) : CObject(), x(other.x), y(other.y)
    {
    }
    CVector2D& operator=(const CVector2D& other)
    {
        x = other.x;
        y = other.y;
        return *this;
    }
    ~CVector2D() override = default;

    /// Divides both components by the length, in place.
    /// @warning No guard against a length of 0: callers never normalise a zero vector.
    void Normalize()
    {
        double length = std::sqrt(x * x + y * y);
        x = x / length;
        y = y / length;
    }

    double x;
    double y;
};
