#include "geometry/bbox.h"
#include "geometry/line_seg.h"
#include "geometry/perim.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using Points = std::vector<std::pair<long, long>>;

Points PointsOf(const CLineSeg& line)
{
    Points points;
    for (POSITION p = line.GetHeadPosition(); p != nullptr;)
    {
        CCoord* c = line.GetNextPoint(p);
        points.emplace_back(c->x, c->y);
    }
    return points;
}

void FillIndexed(CLineSeg& line, int count)
{
    for (int i = 0; i < count; ++i)
        line.AddPoint(i, 0);
}

TEST(LineSegTest, AddPointDropsOnlyAnImmediateRepeat)
{
    CLineSeg line;
    EXPECT_NE(line.AddPoint(3, 4), nullptr);
    EXPECT_EQ(line.AddPoint(3, 4), nullptr);
    EXPECT_EQ(line.AddPoint(CCoord(3, 4)), nullptr);
    line.AddPoint(5, 6);
    line.AddPoint(3, 4);
    EXPECT_EQ(PointsOf(line), (Points{{3, 4}, {5, 6}, {3, 4}}));
}

TEST(LineSegTest, AddPointByPointerKeepsRepeats)
{
    CLineSeg line;
    CCoord p(3, 4);
    line.AddPoint(&p);
    EXPECT_NE(line.AddPoint(&p), nullptr);
    EXPECT_EQ(line.GetPointCount(), 2);
}

TEST(LineSegTest, LineTypeAcceptsOnlyZeroToTwo)
{
    EXPECT_EQ(CLineSeg(7).lineType, 0);
    EXPECT_EQ(CLineSeg(-1).lineType, 0);
    CLineSeg two(2);
    EXPECT_EQ(two.lineType, 2);
    two.SetLineType(3);
    EXPECT_EQ(two.GetLineType(), 2);
    two.SetLineType(1);
    EXPECT_EQ(two.GetLineType(), 1);
    CLineSeg defaults;
    EXPECT_EQ(defaults.penNumber, 1);
    EXPECT_EQ(defaults.lineWidth, 0);
    EXPECT_EQ(defaults.geometryType, 0);
}

TEST(LineSegTest, CopyLineSegTakesInclusiveRangesAndAttributes)
{
    CLineSeg src;
    FillIndexed(src, 10);
    src.penNumber = 4;
    src.lineType = 2;
    src.lineWidth = 300;
    src.geometryType = 1;

    CLineSeg all;
    all.CopyLineSeg(&src, -5, -1);
    EXPECT_EQ(all.GetPointCount(), 10);
    EXPECT_EQ(all.penNumber, 4);
    EXPECT_EQ(all.lineType, 2);
    EXPECT_EQ(all.lineWidth, 300);
    EXPECT_EQ(all.geometryType, 1);

    CLineSeg middle;
    middle.CopyLineSeg(&src, 2, 3);
    EXPECT_EQ(PointsOf(middle), (Points{{2, 0}, {3, 0}, {4, 0}, {5, 0}}));

    CLineSeg tail;
    tail.CopyLineSeg(&src, 8, 6000);
    EXPECT_EQ(PointsOf(tail), (Points{{8, 0}, {9, 0}}));

    // Points already in the destination stay in front of the copied ones.
    CLineSeg appended;
    appended.AddPoint(-1, -1);
    appended.CopyLineSeg(&src, 9, 0);
    EXPECT_EQ(PointsOf(appended), (Points{{-1, -1}, {9, 0}}));
}

TEST(LineSegTest, CopyLineSegKeepsRepeatedPointsOfTheSource)
{
    CLineSeg src;
    CCoord p(1, 1);
    src.AddPoint(&p);
    src.AddPoint(&p);
    CLineSeg copy;
    copy.CopyLineSeg(&src, -1, -1);
    EXPECT_EQ(PointsOf(copy), (Points{{1, 1}, {1, 1}}));
}

TEST(LineSegTest, CopyLineSegFromEmptySourceCopiesAttributesOnly)
{
    CLineSeg src(1);
    src.penNumber = 9;
    CLineSeg copy;
    copy.CopyLineSeg(&src, -1, -1);
    EXPECT_EQ(copy.GetPointCount(), 0);
    EXPECT_EQ(copy.penNumber, 9);
    EXPECT_EQ(copy.lineType, 1);
}

TEST(LineSegTest, CopyLineSegWithHugeCountDoesNotWrap)
{
    CLineSeg src;
    FillIndexed(src, 5);
    CLineSeg copy;
    copy.CopyLineSeg(&src, 3, 2147483647);
    EXPECT_EQ(PointsOf(copy), (Points{{3, 0}, {4, 0}}));
}

TEST(LineSegTest, RemovePointsKeepsAttributes)
{
    CLineSeg line(2);
    line.lineWidth = 40;
    FillIndexed(line, 25);
    EXPECT_EQ(line.RemovePointsInLineSeg(), 1);
    EXPECT_EQ(line.GetPointCount(), 0);
    EXPECT_EQ(line.GetHeadPosition(), nullptr);
    EXPECT_EQ(line.lineType, 2);
    EXPECT_EQ(line.lineWidth, 40);
}

TEST(LineSegTest, WalkingBothWaysAndReadingByPosition)
{
    CLineSeg line;
    line.AddPoint(1, 2);
    line.AddPoint(3, 4);
    POSITION p = line.GetHeadPosition();
    EXPECT_EQ(line.GetX(p), 1);
    EXPECT_EQ(line.GetY(p), 2);
    CCoord* first = line.GetPrevPoint(p);
    EXPECT_EQ(first, line.GetFirstPoint());
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(line.GetLastPoint()->x, 3);
}

TEST(LineSegTest, UpdateBoundingBoxesGrowsPieceThenBoxUnlessGeometryTypeIsSet)
{
    CPerim piece;
    CBBox box;
    CLineSeg line;
    line.AddPoint(-5, 10);
    line.AddPoint(20, -7);
    line.UpdateBoundingBoxes(&piece, &box);
    EXPECT_EQ(piece.box.lowerLeft, CCoord(-5, -7));
    EXPECT_EQ(piece.box.upperRight, CCoord(20, 10));
    EXPECT_EQ(box.lowerLeft, CCoord(-5, -7));

    CLineSeg excluded;
    excluded.geometryType = 1;
    excluded.AddPoint(1000, 1000);
    excluded.UpdateBoundingBoxes(&piece, &box);
    EXPECT_EQ(piece.box.upperRight, CCoord(20, 10));
    EXPECT_EQ(box.upperRight, CCoord(20, 10));
}

} // namespace
