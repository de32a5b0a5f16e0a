// Finalisation: placing loose lines and labels, the nearest-piece fallback, and the final boxes.

#include "plot_test_helpers.h"

#include <cstdint>
#include <limits>

using namespace plot_test;

namespace
{

// Finalisation reads the registry; every test here sees an empty one.
class FinalizeTest : public ::testing::Test
{
  protected:
    ScopedRegistry registry_;
};

// A piece made by closure with the given box, so it carries that box and nothing else.
void ClosedBox(CPlotInfo& plot, long x0, long y0, long x1, long y1)
{
    Stroke(plot, {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}});
}

} // namespace

TEST_F(FinalizeTest, WithoutPiecesTheFirstLooseLineBecomesThePiece)
{
    CPlotInfo plot;
    plot.extents.Update(-999, -999);
    CLineSeg* l1 = NewLine({{0, 0}, {10, 0}, {10, 10}});
    l1->penNumber = 5;
    l1->lineType = 2;
    plot.looseLines.AddTail(l1);
    plot.looseLines.AddTail(NewLine({{500, 500}, {600, 500}}));
    plot.looseLines.AddTail(NewLine({{-20, 3}, {-30, 4}}));

    plot.AssignLooseLinesToPieces();
    ASSERT_EQ(plot.pieces.GetCount(), 1);
    CPerim* piece = PieceAt(plot, 0);
    ExpectBox(piece->box, 0, 0, 10, 10);
    ExpectBox(plot.extents, 0, 0, 10, 10);

    plot.FinalizePlotInfo();
    EXPECT_EQ(PointsOf(piece->outline), (Points{{0, 0}, {10, 0}, {10, 10}}));
    EXPECT_EQ(piece->outline.penNumber, 5);
    EXPECT_EQ(piece->outline.lineType, 2);
    ASSERT_EQ(piece->nonPerimeterLines.GetCount(), 2);
    EXPECT_EQ(PointsOf(*LineAt(piece->nonPerimeterLines, 0)), (Points{{500, 500}, {600, 500}}));
    EXPECT_EQ(PointsOf(*LineAt(piece->nonPerimeterLines, 1)), (Points{{-20, 3}, {-30, 4}}));
    EXPECT_TRUE(plot.looseLines.IsEmpty());
    ExpectBox(piece->box, -30, 0, 600, 500);
    ExpectBox(plot.extents, -30, 0, 600, 500);
}

TEST_F(FinalizeTest, WithoutPiecesOrLinesLabelsStayLoose)
{
    CPlotInfo plot;
    plot.looseLabels.AddTail(NewLabel(10, 10));
    plot.looseLabels.AddTail(NewLabel(20, 20));
    plot.FinalizePlotInfo();
    EXPECT_TRUE(plot.pieces.IsEmpty());
    EXPECT_EQ(plot.looseLabels.GetCount(), 2);
    ExpectBox(plot.extents, CBBox::kEmptyMin, CBBox::kEmptyMin, CBBox::kEmptyMax, CBBox::kEmptyMax);
}

TEST_F(FinalizeTest, LooseLineGoesToTheFirstPieceInListOrderThatHoldsIt)
{
    CPlotInfo plot;
    ClosedBox(plot, 40, 40, 60, 60); // B, key 80
    ClosedBox(plot, 0, 0, 100, 100); // A, key 400
    plot.looseLines.AddTail(NewLine({{0, 0}, {45, 45}}));
    plot.FinalizePlotInfo();
    EXPECT_EQ(PieceAt(plot, 0)->nonPerimeterLines.GetCount(), 1);
    EXPECT_TRUE(PieceAt(plot, 1)->nonPerimeterLines.IsEmpty());
}

TEST_F(FinalizeTest, LongLooseLineIsChunkedAgain)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 100, 100);
    Points points;
    for (int i = 0; i < 6001; ++i)
        points.emplace_back(i % 50, i / 50);
    plot.looseLines.AddTail(NewLine(points));
    plot.FinalizePlotInfo();
    CPerim* piece = PieceAt(plot, 0);
    ASSERT_EQ(piece->nonPerimeterLines.GetCount(), 2);
    EXPECT_EQ(PointsOf(*LineAt(piece->nonPerimeterLines, 0)), points);
    EXPECT_EQ(PointsOf(*LineAt(piece->nonPerimeterLines, 1)), (Points{points[5999], points[6000]}));
}

TEST_F(FinalizeTest, LinesAreTestedAgainstTheBoxesAsTheyStoodBeforePlacement)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 100, 100);      // P, key 400
    ClosedBox(plot, 110, -500, 400, 500); // Q, key 2580
    plot.looseLines.AddTail(NewLine({{50, 50}, {150, 50}}));
    plot.looseLines.AddTail(NewLine({{120, 40}, {150, 40}}));
    plot.FinalizePlotInfo();
    ASSERT_EQ(PieceAt(plot, 0)->nonPerimeterLines.GetCount(), 1);
    EXPECT_EQ(PointsOf(*LineAt(PieceAt(plot, 0)->nonPerimeterLines, 0)),
              (Points{{50, 50}, {150, 50}}));
    ASSERT_EQ(PieceAt(plot, 1)->nonPerimeterLines.GetCount(), 1);
    EXPECT_EQ(PointsOf(*LineAt(PieceAt(plot, 1)->nonPerimeterLines, 0)),
              (Points{{120, 40}, {150, 40}}));
}

TEST_F(FinalizeTest, LineTouchingNoBoxGoesToTheNearestLowerLeftCornerFirstPieceWinningTies)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 10, 10);       // key 40, lower-left (0, 0)
    ClosedBox(plot, 1000, 0, 1020, 10);  // key 60, lower-left (1000, 0)
    ClosedBox(plot, 2000, 0, 2100, 100); // key 400, lower-left (2000, 0)
    // Nearest by lower-left corner is the third piece, though the line ends inside nothing.
    plot.looseLines.AddTail(NewLine({{1900, 500}, {1950, 600}}));
    // (500, 0) is 500 from both of the first two corners: the first piece wins.
    plot.looseLines.AddTail(NewLine({{500, -5}, {500, -6}}));
    plot.AssignLooseLinesToPieces();
    EXPECT_EQ(PieceAt(plot, 0)->nonPerimeterLines.GetCount(), 1);
    EXPECT_TRUE(PieceAt(plot, 1)->nonPerimeterLines.IsEmpty());
    EXPECT_EQ(PieceAt(plot, 2)->nonPerimeterLines.GetCount(), 1);
}

TEST_F(FinalizeTest, LabelOnABoxEdgeGoesToTheFirstPieceHoldingIt)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 100, 100);
    ClosedBox(plot, 100, 0, 300, 300);
    CLabel* loose = NewLabel(100, 50, "AB\r\nC", 7);
    loose->justification = 2;
    loose->directionX = 0;
    loose->directionY = 10000;
    plot.looseLabels.AddTail(loose);
    plot.FinalizePlotInfo();
    EXPECT_TRUE(plot.looseLabels.IsEmpty());
    ASSERT_EQ(PieceAt(plot, 0)->labels.GetCount(), 1);
    EXPECT_TRUE(PieceAt(plot, 1)->labels.IsEmpty());
    auto* placed = static_cast<CLabel*>(PieceAt(plot, 0)->labels.GetHead());
    EXPECT_EQ(placed->text, "AB\r\nC");
    EXPECT_EQ(placed->position.x, 100);
    EXPECT_EQ(placed->position.y, 50);
    EXPECT_EQ(placed->justification, 2);
    EXPECT_EQ(placed->textHeight, 7);
    EXPECT_EQ(placed->directionX, 0);
    EXPECT_EQ(placed->directionY, 10000);
}

TEST_F(FinalizeTest, LaterLabelsSeeBoxesGrownByEarlierOnes)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 100, 100);   // P, key 400
    ClosedBox(plot, 200, 0, 400, 100); // Q, key 600
    // 25 characters of height 10 from x = 50: the extent reaches x = 300.
    plot.looseLabels.AddTail(NewLabel(50, 50, "ABCDEFGHIJKLMNOPQRSTUVWXY", 10));
    plot.looseLabels.AddTail(NewLabel(250, 50));
    plot.AssignLooseLabelsToPieces();
    EXPECT_EQ(PieceAt(plot, 0)->labels.GetCount(), 2);
    EXPECT_TRUE(PieceAt(plot, 1)->labels.IsEmpty());
    // Justification 1: the block runs from the anchor to 250 to the right, from y + 10 down
    // by 1.5 heights.
    ExpectBox(PieceAt(plot, 0)->box, 0, 0, 300, 100);
}

TEST_F(FinalizeTest, LabelInNoBoxGoesToTheNearestPiece)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 10, 10);
    ClosedBox(plot, 1000, 1000, 1020, 1010);
    plot.looseLabels.AddTail(NewLabel(900, 900));
    plot.FinalizePlotInfo();
    EXPECT_TRUE(PieceAt(plot, 0)->labels.IsEmpty());
    EXPECT_EQ(PieceAt(plot, 1)->labels.GetCount(), 1);
}

TEST_F(FinalizeTest, FinalBoxesSkipLinesWithANonZeroGeometryType)
{
    CPlotInfo plot;
    plot.currentLine.geometryType = 1;
    ClosedBox(plot, 0, 0, 100, 100);
    plot.currentLine.geometryType = 0;
    CPerim* piece = PieceAt(plot, 0);
    CLineSeg* hidden = NewLine({{-500, -500}, {-400, -400}});
    hidden->geometryType = 1;
    piece->nonPerimeterLines.AddTail(hidden);
    piece->nonPerimeterLines.AddTail(NewLine({{50, 50}, {150, 120}}));
    plot.FinalizePlotInfo();
    ExpectBox(piece->box, 0, 0, 150, 120);
    ExpectBox(plot.extents, 0, 0, 150, 120);
}

TEST_F(FinalizeTest, FinalBoxesSkipNullLinesAndLabelsAHostAppended)
{
    CPlotInfo plot;
    ClosedBox(plot, 0, 0, 100, 100);
    CPerim* piece = PieceAt(plot, 0);
    piece->nonPerimeterLines.AddTail(nullptr);
    piece->nonPerimeterLines.AddTail(NewLine({{50, 50}, {150, 120}}));
    piece->labels.AddTail(nullptr);
    plot.FinalizePlotInfo();
    ExpectBox(piece->box, 0, 0, 150, 120);
    ExpectBox(plot.extents, 0, 0, 150, 120);
    EXPECT_EQ(piece->nonPerimeterLines.GetCount(), 2);
    EXPECT_EQ(piece->labels.GetCount(), 1);
}

TEST_F(FinalizeTest, OutlineWithANonZeroGeometryTypeKeepsTheBoxItWasMadeWith)
{
    CPlotInfo plot;
    CLineSeg* outline = NewLine({{0, 0}, {10, 20}, {-5, 3}});
    outline->geometryType = 1;
    plot.looseLines.AddTail(outline);
    plot.FinalizePlotInfo();
    ExpectBox(PieceAt(plot, 0)->box, 0, 0, 0, 0);
    ExpectBox(plot.extents, 0, 0, 0, 0);
}

TEST_F(FinalizeTest, TheStrokeInProgressEndsFirstAndCanReceiveLinesAndLabels)
{
    CPlotInfo plot;
    plot.looseLines.AddTail(NewLine({{5, 5}, {6, 6}}));
    plot.looseLabels.AddTail(NewLabel(7, 7));
    for (Point point : Points{{0, 0}, {100, 0}, {100, 100}, {0, 0}})
        plot.currentLine.AddPoint(point.first, point.second);
    plot.FinalizePlotInfo();
    EXPECT_EQ(plot.currentLine.GetPointCount(), 0);
    ASSERT_EQ(plot.pieces.GetCount(), 1);
    EXPECT_EQ(PieceAt(plot, 0)->GetPointCount(), 4);
    EXPECT_EQ(PieceAt(plot, 0)->nonPerimeterLines.GetCount(), 1);
    EXPECT_EQ(PieceAt(plot, 0)->labels.GetCount(), 1);
    EXPECT_TRUE(plot.looseLines.IsEmpty());
    EXPECT_TRUE(plot.looseLabels.IsEmpty());
}

TEST_F(FinalizeTest, LooseLinesWithoutPointsAreDropped)
{
    CPlotInfo plot;
    plot.looseLines.AddTail(new CLineSeg);
    plot.looseLines.AddTail(NewLine({{3, 4}, {5, 6}}));
    plot.looseLines.AddTail(new CLineSeg);
    plot.FinalizePlotInfo();
    ASSERT_EQ(plot.pieces.GetCount(), 1);
    EXPECT_EQ(PointsOf(PieceAt(plot, 0)->outline), (Points{{3, 4}, {5, 6}}));
    EXPECT_TRUE(PieceAt(plot, 0)->nonPerimeterLines.IsEmpty());
    EXPECT_TRUE(plot.looseLines.IsEmpty());
}

TEST(GetDistanceSquaredTest, MeasuresToTheLowerLeftCorner)
{
    CPlotInfo plot;
    CPerim piece;
    piece.box.Update(10, 20);
    CCoord point(13, 24);
    EXPECT_EQ(PlotInfoTestAccess::GetDistanceSquared(plot, &piece, &point), 25.0);
    CCoord corner(10, 20);
    EXPECT_EQ(PlotInfoTestAccess::GetDistanceSquared(plot, &piece, &corner), 0.0);
    piece.box.Update(1000000, 1000000);
    EXPECT_EQ(PlotInfoTestAccess::GetDistanceSquared(plot, &piece, &corner), 0.0);
    CCoord upperRight(1000000, 1000000);
    EXPECT_EQ(PlotInfoTestAccess::GetDistanceSquared(plot, &piece, &upperRight),
              999990.0 * 999990.0 + 999980.0 * 999980.0);
}

TEST(GetDistanceSquaredTest, CornersFarApartDoNotWrap)
{
    // In 32 bits each difference would wrap to 1 and the result would be 2.
    CPlotInfo plot;
    CPerim piece;
    piece.box.Update(std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::min());
    CCoord point(std::numeric_limits<std::int32_t>::max(),
                 std::numeric_limits<std::int32_t>::max());
    double distance = PlotInfoTestAccess::GetDistanceSquared(plot, &piece, &point);
    EXPECT_DOUBLE_EQ(distance, 2.0 * 4294967295.0 * 4294967295.0);
}
