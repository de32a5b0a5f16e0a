#include "genplot/gen_plot.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"
#include "support/failing_stream.h"
#include "support/recording_window.h"
#include "support/writer_fixtures.h"

#include <cstdio>

#include <gtest/gtest.h>

// A stream that refuses a write, a seek or a position query makes the writer stop with 0:
// an incomplete file is never reported as complete.

namespace
{

// Two pieces with lines and labels: every kind of record, two table patches.
void BuildPlot(CPlotInfo& plot)
{
    plot.defaultTextHeight = 10;
    CPerim* a = AddPiece(plot, {{0, 0}, {10, 0}, {10, 10}, {0, 0}}, 0, 0, 10, 10);
    AddLine(a, {{1, 1}, {2, 2}}, 1, 1);
    a->labels.AddTail(MakeLabel("A", 1, 1, 10));
    CPerim* b = AddPiece(plot, {{20, 20}, {30, 20}, {20, 20}}, 20, 20, 30, 20);
    AddLine(b, {{21, 21}, {22, 22}});
    plot.looseLabels.AddTail(MakeLabel("loose", 0, 0, 12));
}

int WriteTo(std::FILE* file, CPlotInfo& plot, CProgressCtrl* progress = nullptr)
{
    CPlotConfig config;
    CGenPlot writer;
    writer.Initialize("drawing", &config);
    int cancel = 0;
    return writer.write_plot_file(file, &plot, &config, progress, &cancel, nullptr);
}

} // namespace

TEST(WriterFailureTest, FullDeviceGivesZero)
{
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr)
    {
        GTEST_SKIP() << "/dev/full is not available";
    }
    CPlotInfo empty;
    EXPECT_EQ(WriteTo(full, empty), 0);
    std::fclose(full);

    full = std::fopen("/dev/full", "wb");
    CPlotInfo plot;
    BuildPlot(plot);
    EXPECT_EQ(WriteTo(full, plot), 0);
    std::fclose(full);
}

TEST(WriterFailureTest, FaultFreeStreamGetsTheSameFileAsADiskFile)
{
    CPlotInfo plot;
    BuildPlot(plot);
    TempFile disk = MakeTempFile();
    ASSERT_EQ(WriteTo(disk.get(), plot), 1);
    FailingStream stream(StreamFaults{});
    ASSERT_EQ(WriteTo(stream.file(), plot), 1);
    EXPECT_TRUE(SameBytes(ReadAllBytes(disk.get()), stream.bytes()));
    EXPECT_EQ(std::ftell(stream.file()), 144);
}

TEST(WriterFailureTest, WriteRefusedAtAnyByteGivesZero)
{
    CPlotInfo plot;
    BuildPlot(plot);
    const long total = RefuseEachStreamStep(
        kStreamWrite, [&plot](std::FILE* file) { return WriteTo(file, plot); });
    // The file, the two table patches and the final header.
    EXPECT_GT(total, 2 * 20 + 140);
}

TEST(WriterFailureTest, SeekRefusedAtAnyStepGivesZero)
{
    CPlotInfo plot;
    BuildPlot(plot);
    // The writer stops at the refused seek: it never tries another.
    const long seeks = RefuseEachStreamStep(
        kStreamSeek, [&plot](std::FILE* file) { return WriteTo(file, plot); },
        [](const FailingStream& stream) { EXPECT_EQ(stream.failedSeeks(), 1); });
    EXPECT_EQ(seeks, 3); // the piece-table patch out and back, then back to the header
}

TEST(WriterFailureTest, PositionQueryRefusedAtAnyStepGivesZero)
{
    CPlotInfo plot;
    BuildPlot(plot);
    const long tells = RefuseEachStreamStep(
        kStreamTell, [&plot](std::FILE* file) { return WriteTo(file, plot); },
        [](const FailingStream& stream) { EXPECT_EQ(stream.failedTells(), 1); });
    EXPECT_GT(tells, 0);
}

TEST(WriterFailureTest, FailureStopsProgressAtOnce)
{
    CPlotInfo plot;
    BuildPlot(plot);
    StreamFaults faults;
    faults.writeBytesBeforeFailure = 144 + 8 + 4 + 40 + 4 + 5 + 48; // up to piece A's outline
    FailingStream stream(faults);
    RecordingWindow progress;
    EXPECT_EQ(WriteTo(stream.file(), plot, progress.progress()), 0);
    EXPECT_TRUE(progress.Positions().empty());
}

TEST(WriterFailureTest, OffsetPastTheThirtyTwoBitFieldGivesZero)
{
    // A stream whose file starts just below 2 GiB: the section offsets would not fit.
    CPlotInfo plot;
    BuildPlot(plot);
    StreamFaults faults;
    faults.startPosition = 0x7FFFFF00L;
    FailingStream stream(faults);
    EXPECT_EQ(WriteTo(stream.file(), plot), 0);
}
