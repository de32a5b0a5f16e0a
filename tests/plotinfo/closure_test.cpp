// Ending strokes: closure into pieces, the ordered list of pieces, the limits, and the
// attributes a stroke carries when it ends.

#include "plot_test_helpers.h"

#include "plotinfo/plot_config.h"

#include <cstdint>
#include <limits>

using namespace plot_test;

namespace
{

constexpr long kMin = std::numeric_limits<std::int32_t>::min();
constexpr long kMax = std::numeric_limits<std::int32_t>::max();

// A closed outline of `count` points, all distinct but the last, which repeats the first.
Points ClosedStroke(int count, long offsetX = 0)
{
    Points points;
    for (int i = 0; i < count - 1; ++i)
        points.emplace_back(offsetX + i, i % 2);
    points.emplace_back(offsetX, 0);
    return points;
}

} // namespace

TEST(CheckForClosureTest, EmptyCurrentLineReturnsZeroAndChangesNothing)
{
    CPlotInfo plot;
    EXPECT_EQ(plot.CheckForClosure(), 0);
    EXPECT_TRUE(plot.pieces.IsEmpty());
    EXPECT_TRUE(plot.looseLines.IsEmpty());
    ExpectBox(plot.extents, CBBox::kEmptyMin, CBBox::kEmptyMin, CBBox::kEmptyMax, CBBox::kEmptyMax);
}

TEST(CheckForClosureTest, ClosedSquareBecomesPieceWithBoxKeyAndExtents)
{
    CPlotInfo plot;
    plot.currentLine.SetLineType(2);
    plot.SetLineWidth(7);
    plot.currentLine.AddPoint(0, 0);
    plot.currentLine.AddPoint(100, 0);
    plot.currentLine.AddPoint(100, 100);
    plot.currentLine.AddPoint(0, 0);
    EXPECT_EQ(plot.CheckForClosure(), 1);

    ASSERT_EQ(plot.pieces.GetCount(), 1);
    CPerim* piece = PieceAt(plot, 0);
    ExpectBox(piece->box, 0, 0, 100, 100);
    EXPECT_EQ(piece->boxPerimeter, 400.0);
    EXPECT_EQ(PointsOf(piece->outline), (Points{{0, 0}, {100, 0}, {100, 100}, {0, 0}}));
    EXPECT_EQ(piece->outline.lineType, 2);
    EXPECT_EQ(piece->outline.lineWidth, 7);
    EXPECT_TRUE(piece->nonPerimeterLines.IsEmpty());
    EXPECT_TRUE(piece->labels.IsEmpty());
    ExpectBox(plot.extents, 0, 0, 100, 100);
    EXPECT_EQ(plot.currentLine.GetPointCount(), 0);
    EXPECT_EQ(plot.currentLine.lineType, 2);
    EXPECT_EQ(plot.currentLine.lineWidth, 7);
    EXPECT_TRUE(plot.looseLines.IsEmpty());
}

TEST(CheckForClosureTest, ThreePointsCloseAndTwoNever)
{
    CPlotInfo plot;
    Stroke(plot, {{0, 0}, {100, 0}, {0, 0}});
    ASSERT_EQ(plot.pieces.GetCount(), 1);
    ExpectBox(PieceAt(plot, 0)->box, 0, 0, 100, 0);
    EXPECT_EQ(PieceAt(plot, 0)->boxPerimeter, 200.0);

    CPlotInfo open;
    open.closeTolerance = 1000;
    Stroke(open, {{0, 0}, {5, 0}});
    EXPECT_TRUE(open.pieces.IsEmpty());
    EXPECT_EQ(open.looseLines.GetCount(), 1);
}

TEST(CheckForClosureTest, ToleranceIsASquareWithEdgesIncluded)
{
    for (Point end : {Point{10, -10}, Point{10, 10}, Point{-10, 0}})
    {
        CPlotInfo plot;
        plot.closeTolerance = 10;
        Stroke(plot, {{0, 0}, {500, 0}, {500, 500}, end});
        EXPECT_EQ(plot.pieces.GetCount(), 1) << end.first << "," << end.second;
    }
    for (Point end : {Point{11, 0}, Point{0, -11}})
    {
        CPlotInfo plot;
        plot.closeTolerance = 10;
        Stroke(plot, {{0, 0}, {500, 0}, {500, 500}, end});
        EXPECT_TRUE(plot.pieces.IsEmpty()) << end.first << "," << end.second;
        EXPECT_EQ(plot.looseLines.GetCount(), 1);
    }
}

TEST(CheckForClosureTest, NegativeToleranceClosesNothing)
{
    CPlotInfo plot;
    plot.closeTolerance = -1;
    Stroke(plot, {{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    EXPECT_TRUE(plot.pieces.IsEmpty());
    EXPECT_EQ(plot.looseLines.GetCount(), 1);
}

TEST(CheckForClosureTest, EndsFarApartNeverCloseThroughOverflow)
{
    // In 32 bits, INT32_MIN - INT32_MAX wraps to 1, which a tolerance of 1 would accept.
    CPlotInfo plot;
    plot.closeTolerance = 1;
    Stroke(plot, {{kMin, kMin}, {0, 5}, {kMax, kMax}});
    EXPECT_TRUE(plot.pieces.IsEmpty());
    EXPECT_EQ(plot.looseLines.GetCount(), 1);
}

TEST(CheckForClosureTest, OutlineOf5999PointsClosesAnd6000AreStoredAsLines)
{
    CPlotInfo plot;
    Stroke(plot, ClosedStroke(5999));
    ASSERT_EQ(plot.pieces.GetCount(), 1);
    EXPECT_EQ(PieceAt(plot, 0)->outline.GetPointCount(), 5999);

    CPlotInfo longer;
    Stroke(longer, ClosedStroke(6000));
    EXPECT_TRUE(longer.pieces.IsEmpty());
    ASSERT_EQ(longer.looseLines.GetCount(), 2);
    Points whole = ClosedStroke(6000);
    EXPECT_EQ(PointsOf(*LineAt(longer.looseLines, 0)), Points(whole.begin(), whole.end()));
    EXPECT_EQ(PointsOf(*LineAt(longer.looseLines, 1)), Points{whole[5999]});
}

TEST(CheckForClosureTest, ClosureStopsAt2991Pieces)
{
    CPlotInfo plot;
    for (int i = 0; i < 2990; ++i)
        plot.AddNewPc(nullptr);
    Stroke(plot, {{0, 0}, {10, 0}, {10, 10}, {0, 0}});
    EXPECT_EQ(plot.pieces.GetCount(), 2991);
    // Empty pieces carry the key 0.0, so the closed one stands after them.
    EXPECT_EQ(static_cast<CPerim*>(plot.pieces.GetTail())->boxPerimeter, 40.0);

    Stroke(plot, {{100, 100}, {110, 100}, {110, 110}, {100, 100}});
    EXPECT_EQ(plot.pieces.GetCount(), 2991);
    ASSERT_EQ(plot.looseLines.GetCount(), 1);
    EXPECT_EQ(LineAt(plot.looseLines, 0)->GetPointCount(), 4);
}

TEST(AddNewPerimTest, EqualKeysKeepTheOrderTheyWereMadeIn)
{
    CPlotInfo plot;
    // Keys 400, 200, 400, 300; the pen tells the pieces apart.
    const Points strokes[] = {
        {{0, 0}, {100, 0}, {100, 100}, {0, 0}},
        {{0, 0}, {50, 0}, {50, 50}, {0, 0}},
        {{500, 500}, {600, 500}, {600, 600}, {500, 500}},
        {{0, 0}, {75, 0}, {75, 75}, {0, 0}},
    };
    int pen = 1;
    for (const Points& stroke : strokes)
    {
        plot.currentPen = pen++;
        Stroke(plot, stroke);
    }
    ASSERT_EQ(plot.pieces.GetCount(), 4);
    const double keys[] = {200.0, 300.0, 400.0, 400.0};
    const int pens[] = {2, 4, 1, 3};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(PieceAt(plot, i)->boxPerimeter, keys[i]) << i;
        EXPECT_EQ(PieceAt(plot, i)->outline.penNumber, pens[i]) << i;
    }
}

TEST(AddNewPerimTest, KeyOfAHugeBoxIsExact)
{
    // (2^32 - 1) + 0 doubled: 32-bit arithmetic would wrap.
    CPlotInfo plot;
    Stroke(plot, {{kMin, 0}, {kMax, 0}, {kMin, 0}});
    ASSERT_EQ(plot.pieces.GetCount(), 1);
    EXPECT_EQ(PieceAt(plot, 0)->boxPerimeter, 8589934590.0);
}

TEST(AddNewPerimTest, FirstPieceRestartsExtentsAndLaterPiecesOnlyGrowThem)
{
    CPlotInfo plot;
    plot.extents.Update(-1000, -1000);
    plot.extents.Update(1000, 1000);
    Stroke(plot, {{0, 0}, {10, 0}, {10, 10}, {0, 0}});
    ExpectBox(plot.extents, 0, 0, 10, 10);
    Stroke(plot, {{5, 5}, {20, 5}, {20, 6}, {5, 5}});
    ExpectBox(plot.extents, 0, 0, 20, 10);

    // The Remove operations leave extents alone; the next first piece restarts them.
    plot.RemovePerimeters();
    ExpectBox(plot.extents, 0, 0, 20, 10);
    Stroke(plot, {{50, 50}, {60, 50}, {60, 60}, {50, 50}});
    ExpectBox(plot.extents, 50, 50, 60, 60);
}

TEST(StrokeAttributesTest, PenIsTakenWhenTheStrokeEnds)
{
    CPlotInfo plot;
    plot.currentPen = 3;
    plot.currentLine.AddPoint(0, 0);
    plot.currentLine.AddPoint(10, 0);
    plot.currentLine.AddPoint(0, 0);
    plot.currentPen = 4;
    plot.CheckForClosure();
    EXPECT_EQ(PieceAt(plot, 0)->outline.penNumber, 4);

    plot.currentPen = 3;
    plot.currentLine.AddPoint(500, 500);
    plot.currentLine.AddPoint(600, 600);
    plot.currentPen = 4;
    plot.CheckForClosure();
    EXPECT_EQ(LineAt(plot.looseLines, 0)->penNumber, 4);
}

TEST(StrokeAttributesTest, ANewWidthEndsTheStrokeWithTheOldOne)
{
    CPlotInfo plot;
    plot.SetLineWidth(20);
    plot.currentLine.AddPoint(0, 0);
    plot.currentLine.AddPoint(10, 0);
    plot.SetLineWidth(20);
    EXPECT_EQ(plot.currentLine.GetPointCount(), 2);

    plot.SetLineWidth(30);
    EXPECT_EQ(plot.currentLine.GetPointCount(), 0);
    ASSERT_EQ(plot.looseLines.GetCount(), 1);
    EXPECT_EQ(LineAt(plot.looseLines, 0)->lineWidth, 20);
    Stroke(plot, {{50, 50}, {60, 60}});
    EXPECT_EQ(LineAt(plot.looseLines, 1)->lineWidth, 30);
}

TEST(InitializeTest, ScalesTheThreeValuesAndKeepsTheSpareScale)
{
    CPlotInfo plot;
    CPlotConfig config;
    config.scaleDivisor = 2.0;
    config.scaleMultiplier = 1000.0;
    plot.Initialize(config, 50.0, 100.0, 0.0, 3000);
    EXPECT_EQ(plot.configScale, 1000.0);
    EXPECT_EQ(plot.scaledValue1, 250.0);
    EXPECT_EQ(plot.scaledValue2, 500.0);
    EXPECT_EQ(plot.scaledValue3, 0.0);
    EXPECT_EQ(plot.defaultTextHeight, 3000);
    EXPECT_EQ(plot.spareScale, 10000.0);
}
