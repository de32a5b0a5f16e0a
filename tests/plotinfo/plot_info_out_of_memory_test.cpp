// Allocation failures during assembly and finalisation: every list keeps live objects only,
// nothing leaks (the sanitizer build checks), and the fat-line pass ends quietly.

#include "plot_test_helpers.h"

#include "platform/allocation_internal.h"
#include "platform/exception.h"
#include "plotinfo/settings_key_internal.h"
#include "support/allocation_faults.h"

#include <memory>

using namespace plot_test;
using genplot::detail::AllocationCount;

namespace
{

// Strokes for a small plot with every kind of content: two pieces made by closure (the
// second with a wide outline), lines routed into them, a wide loose line and a narrow one
// that no box holds, and a stroke still in progress that closes at finalisation.
void AddStrokes(CPlotInfo& plot)
{
    plot.SetLineWidth(0);
    Stroke(plot, {{0, 0}, {1000, 0}, {1000, 1000}, {0, 0}});
    plot.SetLineWidth(300);
    Stroke(plot, {{2000, 0}, {3000, 0}, {3000, 500}, {2000, 0}});
    Stroke(plot, {{100, 100}, {900, 100}, {900, 900}, {500, 950}});
    plot.SetLineWidth(0);
    Stroke(plot, {{2100, 100}, {2900, 200}});
    plot.SetLineWidth(520);
    Stroke(plot, {{5000, 5000}, {6000, 5000}, {6000, 6000}});
    plot.SetLineWidth(0);
    Stroke(plot, {{-500, -500}, {-400, -400}});
    plot.currentLine.AddPoint(-3000, -3000);
    plot.currentLine.AddPoint(-2000, -3000);
    plot.currentLine.AddPoint(-3000, -3000);
}

void AddLabels(CPlotInfo& plot)
{
    Append(plot.looseLabels, NewLabel(50, 50, "first\r\nlabel"));
    Append(plot.looseLabels, NewLabel(9000, 9000, "far away"));
}

void ExpectLiveLine(CObject* object)
{
    auto* line = dynamic_cast<CLineSeg*>(object);
    ASSERT_NE(line, nullptr);
    for (POSITION position = line->GetHeadPosition(); position != nullptr;)
        ASSERT_NE(dynamic_cast<CCoord*>(line->points.GetNext(position)), nullptr);
}

// Touches every object the plot's lists hold; under AddressSanitizer a dead one is an error.
void ExpectOnlyLiveObjects(const CPlotInfo& plot)
{
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        auto* piece = dynamic_cast<CPerim*>(plot.pieces.GetNext(position));
        ASSERT_NE(piece, nullptr);
        ExpectLiveLine(&piece->outline);
        for (POSITION line = piece->nonPerimeterLines.GetHeadPosition(); line != nullptr;)
            ExpectLiveLine(piece->nonPerimeterLines.GetNext(line));
        for (POSITION label = piece->labels.GetHeadPosition(); label != nullptr;)
        {
            auto* text = dynamic_cast<CLabel*>(piece->labels.GetNext(label));
            ASSERT_NE(text, nullptr);
            EXPECT_GT(text->text.GetLength(), 0);
        }
    }
    for (POSITION position = plot.looseLines.GetHeadPosition(); position != nullptr;)
        ExpectLiveLine(plot.looseLines.GetNext(position));
    for (POSITION position = plot.looseLabels.GetHeadPosition(); position != nullptr;)
        ASSERT_NE(dynamic_cast<CLabel*>(plot.looseLabels.GetNext(position)), nullptr);
    ExpectLiveLine(const_cast<CLineSeg*>(&plot.currentLine));
}

int LineCount(const CPlotInfo& plot)
{
    int count = 0;
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
        count += static_cast<int>(
            static_cast<CPerim*>(plot.pieces.GetNext(position))->nonPerimeterLines.GetCount());
    return count;
}

class PlotInfoOutOfMemoryTest : public ::testing::Test
{
  protected:
    // A "MiterLimit" value, so reading the settings allocates too.
    ScopedRegistry registry_{GeneralSection("\"MiterLimit\"=\"0\"")};
};

} // namespace

TEST_F(PlotInfoOutOfMemoryTest, AssemblyFailingAtEachAllocationKeepsListsLive)
{
    const long failures =
        FailEachAllocation([] { return std::make_unique<CPlotInfo>(); },
                           [](CPlotInfo& plot) {
                               AddStrokes(plot);
                               AddLabels(plot);
                           },
                           [](CPlotInfo& plot, bool) { ExpectOnlyLiveObjects(plot); });
    // Every point, node block, line, piece and label is an allocation: the loop has covered
    // them all. (Stored strokes take the current line's points over, so points are made once.)
    EXPECT_GE(failures, 40);
}

TEST_F(PlotInfoOutOfMemoryTest, FinalisationFailingAtEachAllocationKeepsListsLive)
{
    // Reference run: how many allocations finalisation makes, and where the fat-line pass
    // (after its settings are read) begins and ends among them.
    unsigned long settingsAllocations = 0;
    {
        unsigned long before = AllocationCount();
        CSettingsKey settings(HKEY_LOCAL_MACHINE, "Software\\Tavrin\\Conversion");
        CString text;
        ASSERT_EQ(settings.Open("General"), 1);
        ASSERT_EQ(settings.GetString("MiterLimit", text, nullptr), 1);
        settingsAllocations = AllocationCount() - before;
    }
    unsigned long total = 0;
    unsigned long passBegin = 0;
    unsigned long passEnd = 0;
    int referenceLines = 0;
    {
        CPlotInfo plot;
        AddStrokes(plot);
        AddLabels(plot);
        unsigned long start = AllocationCount();
        plot.CheckForClosure();
        plot.AssignLooseLinesToPieces();
        passBegin = AllocationCount() - start + settingsAllocations;
        PlotInfoTestAccess::MakeFatLines(plot);
        passEnd = AllocationCount() - start;
        plot.AssignLooseLabelsToPieces();
        referenceLines = LineCount(plot);

        CPlotInfo whole;
        AddStrokes(whole);
        AddLabels(whole);
        start = AllocationCount();
        whole.FinalizePlotInfo();
        total = AllocationCount() - start;
        ASSERT_EQ(LineCount(whole), referenceLines);
    }
    ASSERT_LT(passBegin, passEnd);

    for (unsigned long n = 1; n <= total + 1; ++n)
    {
        SCOPED_TRACE(n);
        CPlotInfo plot;
        AddStrokes(plot);
        AddLabels(plot);
        bool failed = FailsAt(static_cast<long>(n), [&plot] { plot.FinalizePlotInfo(); });
        ExpectOnlyLiveObjects(plot);
        if (n > passBegin && n <= passEnd)
        {
            // Inside the pass the failure ends the pass only: labels are still placed, and
            // some strokes are missing.
            EXPECT_FALSE(failed);
            EXPECT_TRUE(plot.looseLabels.IsEmpty());
            EXPECT_TRUE(plot.looseLines.IsEmpty());
            EXPECT_LT(LineCount(plot), referenceLines);
        }
        if (n > total)
        {
            EXPECT_FALSE(failed);
            EXPECT_EQ(LineCount(plot), referenceLines);
        }
    }
}

TEST_F(PlotInfoOutOfMemoryTest, FailureWhileChunkingKeepsTheChunksAlreadyStored)
{
    Points points;
    for (int i = 0; i < 6001; ++i)
        points.emplace_back(i, i % 2);
    auto fill = [&points](CPlotInfo& plot) {
        for (const Point& point : points)
            plot.currentLine.AddPoint(point.first, point.second);
    };
    unsigned long total = 0;
    {
        CPlotInfo plot;
        fill(plot);
        total = AllocationsMadeBy([&plot] { plot.CheckForClosure(); });
        ASSERT_EQ(plot.looseLines.GetCount(), 2);
    }
    // The last allocations make the second chunk (two points), or finish linking the first.
    int keptFirstChunk = 0;
    for (unsigned long n = total - 10; n <= total; ++n)
    {
        SCOPED_TRACE(n);
        CPlotInfo plot;
        fill(plot);
        EXPECT_TRUE(FailsAt(static_cast<long>(n), [&plot] { plot.CheckForClosure(); }));
        ExpectOnlyLiveObjects(plot);
        EXPECT_EQ(plot.currentLine.GetPointCount(), 6001);
        ASSERT_LE(plot.looseLines.GetCount(), 1);
        if (plot.looseLines.GetCount() == 1)
        {
            // Never a half-copied chunk: the one stored is whole.
            EXPECT_EQ(LineAt(plot.looseLines, 0)->GetPointCount(), 6001);
            ++keptFirstChunk;
        }
    }
    EXPECT_GT(keptFirstChunk, 0);
}
