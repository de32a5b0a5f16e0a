// Routing open strokes into pieces or the loose lines, the chunk rule, and the box queries.

#include "plot_test_helpers.h"

using namespace plot_test;

namespace
{

// Pieces A (box (0, 0)-(100, 100)) then B (box (-50, -50)-(200, 200)), in that list order.
void MakePiecesAThenB(CPlotInfo& plot)
{
    plot.currentPen = 1;
    Stroke(plot, {{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    plot.currentPen = 2;
    Stroke(plot, {{-50, -50}, {200, -50}, {200, 200}, {-50, -50}});
    plot.currentPen = 7;
}

// An open stroke of `count` points whose x coordinate is its index, far from any piece.
Points IndexedStroke(int count)
{
    Points points;
    for (int i = 0; i < count; ++i)
        points.emplace_back(10000 + i, 10000 + i % 2);
    return points;
}

void ExpectChunk(const CLineSeg& chunk, int first, int last)
{
    Points points = PointsOf(chunk);
    ASSERT_EQ(static_cast<int>(points.size()), last - first + 1);
    for (int i = first; i <= last; ++i)
        EXPECT_EQ(points[i - first].first, 10000 + i);
}

} // namespace

TEST(SaveLineTest, StrokeGoesToTheFirstPieceInListOrderWhoseBoxHoldsAPoint)
{
    CPlotInfo plot;
    MakePiecesAThenB(plot);
    CPerim* a = PieceAt(plot, 0);
    CPerim* b = PieceAt(plot, 1);
    ASSERT_EQ(a->outline.penNumber, 1);

    Stroke(plot, {{150, 150}, {100, 100}});
    Stroke(plot, {{150, 150}, {190, 190}});
    Stroke(plot, {{300, 300}, {400, 400}});

    ASSERT_EQ(a->nonPerimeterLines.GetCount(), 1);
    EXPECT_EQ(PointsOf(*LineAt(a->nonPerimeterLines, 0)), (Points{{150, 150}, {100, 100}}));
    ASSERT_EQ(b->nonPerimeterLines.GetCount(), 1);
    EXPECT_EQ(PointsOf(*LineAt(b->nonPerimeterLines, 0)), (Points{{150, 150}, {190, 190}}));
    ASSERT_EQ(plot.looseLines.GetCount(), 1);
    EXPECT_EQ(PointsOf(*LineAt(plot.looseLines, 0)), (Points{{300, 300}, {400, 400}}));
    EXPECT_EQ(plot.currentLine.GetPointCount(), 0);
}

TEST(SaveLineTest, StrokeCrossingABoxWithNoPointInsideStaysLoose)
{
    CPlotInfo plot;
    Stroke(plot, {{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    Stroke(plot, {{-50, 50}, {150, 50}});
    EXPECT_TRUE(PieceAt(plot, 0)->nonPerimeterLines.IsEmpty());
    EXPECT_EQ(plot.looseLines.GetCount(), 1);
}

TEST(SaveLineTest, RoutingLeavesPieceBoxesAtTheirOutline)
{
    CPlotInfo plot;
    Stroke(plot, {{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    Stroke(plot, {{50, 50}, {5000, 5000}});
    ExpectBox(PieceAt(plot, 0)->box, 0, 0, 100, 100);
    ExpectBox(plot.extents, 0, 0, 100, 100);
}

TEST(SaveLineTest, StoredLinesCarryTheStrokeAttributes)
{
    CPlotInfo plot;
    plot.currentPen = 9;
    plot.currentLine.SetLineType(1);
    plot.currentLine.geometryType = 3;
    plot.SetLineWidth(250);
    Stroke(plot, {{1, 2}, {3, 4}});
    CLineSeg* line = LineAt(plot.looseLines, 0);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->penNumber, 9);
    EXPECT_EQ(line->lineType, 1);
    EXPECT_EQ(line->lineWidth, 250);
    EXPECT_EQ(line->geometryType, 3);
    EXPECT_EQ(plot.currentLine.geometryType, 3);
}

TEST(ChunkRuleTest, LongStrokesOverlapByOneSegment)
{
    struct Case
    {
        int points;
        std::vector<std::pair<int, int>> chunks;
    };
    const Case cases[] = {
        {6000, {{0, 5999}, {5999, 5999}}},
        {6001, {{0, 6000}, {5999, 6000}}},
        {12000, {{0, 6000}, {5999, 11999}, {11998, 11999}}},
        {5999, {{0, 5998}}},
        {1, {{0, 0}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.points);
        CPlotInfo plot;
        Stroke(plot, IndexedStroke(c.points));
        ASSERT_EQ(plot.looseLines.GetCount(), static_cast<INT_PTR>(c.chunks.size()));
        for (std::size_t k = 0; k < c.chunks.size(); ++k)
            ExpectChunk(*LineAt(plot.looseLines, static_cast<int>(k)), c.chunks[k].first,
                        c.chunks[k].second);
    }
}

TEST(ChunkRuleTest, AddLineToPieceAppendsChunksAndLeavesTheSourceAlone)
{
    CPlotInfo plot;
    plot.AddNewPc(nullptr);
    CPerim* piece = PieceAt(plot, 0);
    CLineSeg* existing = NewLine({{0, 0}, {1, 1}});
    piece->nonPerimeterLines.AddTail(existing);

    CLineSeg* source = NewLine(IndexedStroke(6001), 40);
    source->penNumber = 6;
    plot.AddLineToPiece(source, piece);
    EXPECT_EQ(source->GetPointCount(), 6001);
    ASSERT_EQ(piece->nonPerimeterLines.GetCount(), 3);
    EXPECT_EQ(LineAt(piece->nonPerimeterLines, 0), existing);
    ExpectChunk(*LineAt(piece->nonPerimeterLines, 1), 0, 6000);
    ExpectChunk(*LineAt(piece->nonPerimeterLines, 2), 5999, 6000);
    EXPECT_EQ(LineAt(piece->nonPerimeterLines, 2)->penNumber, 6);
    EXPECT_EQ(LineAt(piece->nonPerimeterLines, 2)->lineWidth, 40);
    ExpectBox(piece->box, CBBox::kEmptyMin, CBBox::kEmptyMin, CBBox::kEmptyMax, CBBox::kEmptyMax);
    delete source;
}

TEST(BoxQueryTest, IsLineInBboxCountsEdgesAndNeedsAPoint)
{
    CPlotInfo plot;
    CBBox box;
    box.Update(0, 0);
    box.Update(100, 100);
    CLineSeg empty;
    EXPECT_EQ(plot.IsLineInBbox(&empty, &box), 0);
    CLineSeg* edge = NewLine({{-5, -5}, {100, 40}});
    EXPECT_EQ(plot.IsLineInBbox(edge, &box), 1);
    CLineSeg* outside = NewLine({{-5, 50}, {105, 50}});
    EXPECT_EQ(plot.IsLineInBbox(outside, &box), 0);
    delete edge;
    delete outside;
}

TEST(BoxQueryTest, FindPtInPieceReturnsTheFirstPieceHoldingThePoint)
{
    CPlotInfo plot;
    CCoord point(100, 100);
    EXPECT_EQ(plot.FindPtInPiece(&point), nullptr);
    MakePiecesAThenB(plot);
    EXPECT_EQ(plot.FindPtInPiece(&point), PieceAt(plot, 0));
    CCoord onlyB(150, -50);
    EXPECT_EQ(plot.FindPtInPiece(&onlyB), PieceAt(plot, 1));
    CCoord none(201, 0);
    EXPECT_EQ(plot.FindPtInPiece(&none), nullptr);
}

TEST(PieceListTest, AddNewPcAppendsAnEmptyPieceAndIgnoresItsArgument)
{
    CPlotInfo plot;
    Stroke(plot, {{0, 0}, {10, 0}, {10, 10}, {0, 0}});
    CPerim unrelated;
    unrelated.AddPPt(3, 3);
    plot.AddNewPc(&unrelated);
    plot.AddNewPc(nullptr);
    ASSERT_EQ(plot.pieces.GetCount(), 3);
    for (int i = 1; i < 3; ++i)
    {
        CPerim* piece = PieceAt(plot, i);
        EXPECT_NE(piece, &unrelated);
        EXPECT_EQ(piece->GetPointCount(), 0);
        EXPECT_TRUE(piece->nonPerimeterLines.IsEmpty());
    }
    EXPECT_EQ(unrelated.GetPointCount(), 1);
}

TEST(PieceListTest, RemoveLabelsDeletesOnlyTheLooseOnes)
{
    CPlotInfo plot;
    plot.AddNewPc(nullptr);
    PieceAt(plot, 0)->labels.AddTail(NewLabel(1, 1));
    plot.looseLabels.AddTail(NewLabel(2, 2));
    plot.looseLabels.AddTail(NewLabel(3, 3));
    plot.RemoveLabels();
    EXPECT_TRUE(plot.looseLabels.IsEmpty());
    EXPECT_EQ(PieceAt(plot, 0)->labels.GetCount(), 1);
}

TEST(PieceListTest, DirectCallsOnAnEmptyLineMakeNothing)
{
    CPlotInfo plot;
    plot.AddNewPerim();
    plot.SaveLine();
    EXPECT_TRUE(plot.pieces.IsEmpty());
    EXPECT_TRUE(plot.looseLines.IsEmpty());
    plot.AddNewPc(nullptr);
    CLineSeg empty;
    plot.AddLineToPiece(&empty, PieceAt(plot, 0));
    EXPECT_TRUE(PieceAt(plot, 0)->nonPerimeterLines.IsEmpty());
}
