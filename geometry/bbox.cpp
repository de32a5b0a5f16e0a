#include "geometry/bbox.h"

CCoord::~CCoord() = default;

CBBox::~CBBox() = default;

void CBBox::Reset()
{
    lowerLeft.x = lowerLeft.y = kEmptyMin;
    upperRight.x = upperRight.y = kEmptyMax;
}

void CBBox::Update(long xValue, long yValue)
{
    auto x = static_cast<std::int32_t>(xValue);
    auto y = static_cast<std::int32_t>(yValue);
    // Four independent tests: the first point of an empty box sets minimum and maximum alike.
    if (x < lowerLeft.x)
        lowerLeft.x = x;
    if (x > upperRight.x)
        upperRight.x = x;
    if (y < lowerLeft.y)
        lowerLeft.y = y;
    if (y > upperRight.y)
        upperRight.y = y;
}

int CBBox::IsPtInBbox(CCoord* point) const
{
    if (point->x < lowerLeft.x || point->x > upperRight.x)
        return 0;
    return point->y >= lowerLeft.y && point->y <= upperRight.y ? 1 : 0;
}
