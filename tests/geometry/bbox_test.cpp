#include "geometry/bbox.h"

#include <gtest/gtest.h>

namespace
{

TEST(BBoxTest, EmptyBoxHoldsSentinelsAndContainsNothing)
{
    CBBox box;
    EXPECT_EQ(box.lowerLeft.x, 2147483647);
    EXPECT_EQ(box.lowerLeft.y, 2147483647);
    EXPECT_EQ(box.upperRight.x, -2147483647 - 1);
    EXPECT_EQ(box.upperRight.y, -2147483647 - 1);
    CCoord origin, low(2147483647, 2147483647), high(-2147483647 - 1, -2147483647 - 1);
    EXPECT_EQ(box.IsPtInBbox(&origin), 0);
    EXPECT_EQ(box.IsPtInBbox(&low), 0);
    EXPECT_EQ(box.IsPtInBbox(&high), 0);
}

TEST(BBoxTest, FirstUpdateSetsBothCornersAndResetEmptiesAgain)
{
    CBBox box;
    box.Update(5, -3);
    EXPECT_EQ(box.lowerLeft, CCoord(5, -3));
    EXPECT_EQ(box.upperRight, CCoord(5, -3));
    CCoord p(5, -3);
    EXPECT_EQ(box.IsPtInBbox(&p), 1);
    box.Reset();
    EXPECT_EQ(box.IsPtInBbox(&p), 0);
    EXPECT_EQ(box.lowerLeft.x, CBBox::kEmptyMin);
}

TEST(BBoxTest, EdgesAndCornersAreInside)
{
    CBBox box;
    box.Update(0, 0);
    CCoord corner(10, 20); // not "far": windows.h defines that as an empty macro
    box.Update(corner);
    for (CCoord p :
         {CCoord(0, 0), CCoord(10, 20), CCoord(0, 20), CCoord(10, 0), CCoord(5, 0), CCoord(10, 7)})
        EXPECT_EQ(box.IsPtInBbox(&p), 1) << p.x << "," << p.y;
    for (CCoord p : {CCoord(-1, 5), CCoord(11, 5), CCoord(5, -1), CCoord(5, 21)})
        EXPECT_EQ(box.IsPtInBbox(&p), 0) << p.x << "," << p.y;
}

TEST(CoordTest, EqualityAndPlatformPointCopies)
{
    EXPECT_EQ(CCoord() == CCoord(), 1);
    EXPECT_EQ(CCoord(1, 2) == CCoord(2, 1), 0);
    CCoord c(-7, 9);
    POINT pt{0, 0};
    c.ToCPoint(pt);
    EXPECT_EQ(pt.x, -7);
    EXPECT_EQ(pt.y, 9);
    CPoint cp;
    c.GetPoint(&cp);
    EXPECT_EQ(cp.x, -7);
    long x = 0, y = 0;
    c.GetXY(&x, &y);
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, 9);
}

} // namespace
