#pragma once

#include "geometry/coord.h"

#include <cstdint>
#include <limits>

/// Axis-aligned integer box. Empty is the sentinel pair lowerLeft = (INT32_MAX, INT32_MAX),
/// upperRight = (INT32_MIN, INT32_MIN); there is no separate flag, and readers see the
/// sentinels as they are.
class GENPLOT_API CBBox : public CObject
{
  public:
    static constexpr std::int32_t kEmptyMin = std::numeric_limits<std::int32_t>::max();
    static constexpr std::int32_t kEmptyMax = std::numeric_limits<std::int32_t>::min();

    /// An empty box.
    CBBox() : lowerLeft(kEmptyMin, kEmptyMin), upperRight(kEmptyMax, kEmptyMax)
    {
    }
    CBBox(const CBBox& other) = default;
    CBBox& operator=(const CBBox& other) = default;
    ~CBBox() override;

    /// Makes the box empty again.
    void Reset();
    /// Enlarges the box to contain the point.
    void Update(long x, long y);
    void Update(CCoord& point)
    {
        Update(point.x, point.y);
    }
    /// 1 when the point lies in the box, edges included, else 0.
    int IsPtInBbox(CCoord* point) const;

    CCoord lowerLeft;
    CCoord upperRight;
};
