// A stroke that ends is stored without copying its points when one chunk holds it: the
// stored line takes the current line's points over. Whoever reads the plot must not be able
// to tell, and an allocation failure must leave the stroke where it was.

#include "plot_test_helpers.h"

#include "platform/exception.h"
#include "support/allocation_faults.h"

using namespace plot_test;

namespace
{

Points Zigzag(int count, long x0 = 0)
{
    Points points;
    for (int i = 0; i < count; ++i)
        points.emplace_back(x0 + i, i % 2);
    return points;
}

void Send(CPlotInfo& plot, const Points& points)
{
    for (const Point& p : points)
        plot.currentLine.AddPoint(p.first, p.second);
}

// Ten pieces far from the strokes below: the piece list's first node block is full, so storing
// one more piece allocates, and a failure can strike after the outline took its points.
void TenPieces(CPlotInfo& plot)
{
    for (long i = 0; i < 10; ++i)
    {
        long x = 100000 + 1000 * i;
        Stroke(plot, {{x, 0}, {x + 100, 0}, {x + 100, 100}, {x, 0}});
    }
}

TEST(StrokeHandoverTest, StoredLinesHoldTheStrokeAndTheCurrentLineStartsAfresh)
{
    CPlotInfo plot;
    plot.currentPen = 7;
    plot.currentLine.SetLineType(2);
    plot.SetLineWidth(40);
    Stroke(plot, {{0, 0}, {100, 0}, {100, 100}, {0, 0}}); // a piece
    Send(plot, {{10, 10}, {20, 30}, {40, 50}});
    plot.currentLine.geometryType = 1;
    ASSERT_EQ(plot.CheckForClosure(), 1);
    Send(plot, {{500, 500}, {600, 600}}); // loose
    ASSERT_EQ(plot.CheckForClosure(), 1);

    CPerim* piece = PieceAt(plot, 0);
    EXPECT_EQ(PointsOf(piece->outline), (Points{{0, 0}, {100, 0}, {100, 100}, {0, 0}}));
    EXPECT_EQ(piece->outline.penNumber, 7);
    EXPECT_EQ(piece->outline.lineType, 2);
    EXPECT_EQ(piece->outline.lineWidth, 40);
    ASSERT_EQ(piece->nonPerimeterLines.GetCount(), 1);
    CLineSeg* inside = LineAt(piece->nonPerimeterLines, 0);
    EXPECT_EQ(PointsOf(*inside), (Points{{10, 10}, {20, 30}, {40, 50}}));
    EXPECT_EQ(inside->geometryType, 1);
    EXPECT_EQ(inside->penNumber, 7);
    EXPECT_EQ(inside->lineType, 2);
    EXPECT_EQ(inside->lineWidth, 40);
    ASSERT_EQ(plot.looseLines.GetCount(), 1);
    EXPECT_EQ(PointsOf(*LineAt(plot.looseLines, 0)), (Points{{500, 500}, {600, 600}}));

    // The current line is empty, keeps its attributes, and takes the next stroke as usual:
    // the repeat test sees no stale last point.
    EXPECT_EQ(plot.currentLine.GetPointCount(), 0);
    EXPECT_EQ(plot.currentLine.lineType, 2);
    EXPECT_EQ(plot.currentLine.lineWidth, 40);
    Send(plot, {{600, 600}, {600, 600}, {700, 700}});
    EXPECT_EQ(PointsOf(plot.currentLine), (Points{{600, 600}, {700, 700}}));
}

TEST(StrokeHandoverTest, OnlyAStrokeThatFitsOneChunkIsTakenOver)
{
    // 5999 points are one chunk; 6000 points are two: indices 0-5999 and 5999 alone.
    CPlotInfo plot;
    Send(plot, Zigzag(5999));
    plot.CheckForClosure();
    Send(plot, Zigzag(6000, 100000));
    plot.CheckForClosure();
    ASSERT_EQ(plot.looseLines.GetCount(), 3);
    EXPECT_EQ(PointsOf(*LineAt(plot.looseLines, 0)), Zigzag(5999));
    Points second = Zigzag(6000, 100000);
    EXPECT_EQ(PointsOf(*LineAt(plot.looseLines, 1)), second);
    EXPECT_EQ(PointsOf(*LineAt(plot.looseLines, 2)), Points(second.begin() + 5999, second.end()));
}

TEST(StrokeHandoverTest, FailureWhileStoringKeepsTheStrokeInTheCurrentLine)
{
    for (bool closing : {false, true})
    {
        SCOPED_TRACE(closing ? "closing stroke" : "open stroke");
        Points points = Zigzag(25);
        if (closing)
            points.push_back(points.front());
        unsigned long total = 0;
        {
            CPlotInfo plot;
            TenPieces(plot);
            Send(plot, points);
            total = AllocationsMadeBy([&plot] { plot.CheckForClosure(); });
        }
        ASSERT_GT(total, 0u);
        for (unsigned long n = 1; n <= total; ++n)
        {
            SCOPED_TRACE(n);
            CPlotInfo plot;
            TenPieces(plot);
            Send(plot, points);
            EXPECT_TRUE(FailsAt(static_cast<long>(n), [&plot] { plot.CheckForClosure(); }));
            EXPECT_EQ(PointsOf(plot.currentLine), points);
            EXPECT_EQ(plot.pieces.GetCount(), 10);
            EXPECT_TRUE(plot.looseLines.IsEmpty());
            // Nothing was lost: ending the stroke again stores it whole.
            plot.CheckForClosure();
            EXPECT_EQ(plot.currentLine.GetPointCount(), 0);
            if (closing)
            {
                ASSERT_EQ(plot.pieces.GetCount(), 11);
                EXPECT_EQ(PointsOf(PieceAt(plot, 0)->outline), points);
            }
            else
            {
                ASSERT_EQ(plot.looseLines.GetCount(), 1);
                EXPECT_EQ(PointsOf(*LineAt(plot.looseLines, 0)), points);
            }
        }
    }
}

TEST(StrokeHandoverTest, PlacementFailureLeavesEachLineLooseWithItsPoints)
{
    // Without pieces the first loose line becomes a piece; with ten pieces every loose line
    // goes into one of them. Either way a failure leaves the line in place, points and all.
    for (bool withPieces : {false, true})
    {
        SCOPED_TRACE(withPieces ? "into pieces" : "first line makes a piece");
        auto build = [withPieces](CPlotInfo& plot) {
            if (withPieces)
                TenPieces(plot);
            for (int i = 0; i < 12; ++i)
                Stroke(plot, Zigzag(30, 1000 * i)); // outside every box: loose
        };
        unsigned long total = 0;
        {
            CPlotInfo plot;
            build(plot);
            ASSERT_EQ(plot.looseLines.GetCount(), 12);
            total = AllocationsMadeBy([&plot] { plot.AssignLooseLinesToPieces(); });
        }
        ASSERT_GT(total, 0u);
        for (unsigned long n = 1; n <= total; ++n)
        {
            SCOPED_TRACE(n);
            CPlotInfo plot;
            build(plot);
            EXPECT_TRUE(
                FailsAt(static_cast<long>(n), [&plot] { plot.AssignLooseLinesToPieces(); }));
            // The lines still loose are whole; with the placed ones every line is somewhere.
            int placed = 0;
            for (POSITION at = plot.pieces.GetHeadPosition(); at != nullptr;)
            {
                auto* piece = static_cast<CPerim*>(plot.pieces.GetNext(at));
                placed += static_cast<int>(piece->nonPerimeterLines.GetCount());
                if (piece->outline.GetPointCount() == 30)
                    ++placed;
            }
            ASSERT_FALSE(plot.looseLines.IsEmpty());
            for (int i = 0; i < static_cast<int>(plot.looseLines.GetCount()); ++i)
                EXPECT_EQ(LineAt(plot.looseLines, i)->GetPointCount(), 30);
            EXPECT_EQ(placed + static_cast<int>(plot.looseLines.GetCount()), 12);
            // Finishing the placement afterwards loses nothing either.
            plot.AssignLooseLinesToPieces();
            EXPECT_TRUE(plot.looseLines.IsEmpty());
        }
    }
}

} // namespace
