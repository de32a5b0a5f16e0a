#include "genplot/gen_plot.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"
#include "support/recording_window.h"
#include "support/writer_fixtures.h"

#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// The 16-bit length and count fields: long polylines are split into consecutive records, and
// plots with too many pieces or annotations are refused before anything is written.

namespace
{

using Points = std::vector<std::pair<std::int32_t, std::int32_t>>;

std::uint16_t U16At(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::int32_t I32At(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(U16At(bytes, at)) |
                                     (static_cast<std::uint32_t>(U16At(bytes, at + 2)) << 16));
}

// Walks the records after the header and markers by their lengths, checks that every polyline
// length agrees with its point count and that the walk ends exactly at the end record, and
// returns the points of every polyline record in file order.
std::vector<Points> PolylineRecords(const std::vector<std::uint8_t>& bytes)
{
    std::vector<Points> records;
    std::size_t at = 152;
    while (at + 4 <= bytes.size())
    {
        const std::uint16_t type = U16At(bytes, at);
        const std::uint16_t length = U16At(bytes, at + 2);
        if (type == 0xFFFF)
        {
            EXPECT_EQ(at + 4, bytes.size()) << "end record is not last";
            return records;
        }
        if (type == 0x0301)
        {
            EXPECT_EQ(U16At(bytes, at + 4), 0x0100);
            const std::uint16_t n = U16At(bytes, at + 6);
            EXPECT_EQ(length, 10u * n + 4) << "record at " << at;
            EXPECT_LE(n, 6553);
            Points points;
            for (std::size_t i = 0; i < n; ++i)
            {
                const std::size_t point = at + 8 + 10 * i;
                points.emplace_back(I32At(bytes, point), I32At(bytes, point + 4));
                EXPECT_EQ(U16At(bytes, point + 8), 0);
            }
            records.push_back(std::move(points));
        }
        at += 4 + length;
    }
    ADD_FAILURE() << "no end record";
    return records;
}

Points PointsOf(const CLineSeg& line)
{
    Points points;
    for (POSITION at = line.GetHeadPosition(); at != nullptr;)
    {
        const CCoord* point = line.GetNextPoint(at);
        points.emplace_back(point->x, point->y);
    }
    return points;
}

// The records a line must become: at most 6553 points each, every record after the first
// starting with the last point of the one before.
std::vector<Points> ExpectedRecords(const Points& line)
{
    std::vector<Points> records;
    std::size_t start = 0;
    do
    {
        const std::size_t end = std::min(line.size(), start + 6553);
        records.emplace_back(line.begin() + static_cast<std::ptrdiff_t>(start),
                             line.begin() + static_cast<std::ptrdiff_t>(end));
        start = end - 1;
    } while (start + 1 < line.size());
    return records;
}

std::vector<Points> ExpectedRecordsOfPlot(const CPlotInfo& plot)
{
    std::vector<Points> all;
    for (POSITION at = plot.pieces.GetHeadPosition(); at != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(at));
        for (Points& record : ExpectedRecords(PointsOf(piece->outline)))
        {
            all.push_back(std::move(record));
        }
        for (POSITION lineAt = piece->nonPerimeterLines.GetHeadPosition(); lineAt != nullptr;)
        {
            const auto* line =
                static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(lineAt));
            for (Points& record : ExpectedRecords(PointsOf(*line)))
            {
                all.push_back(std::move(record));
            }
        }
    }
    return all;
}

CLineSeg* Fill(CLineSeg* line, int count)
{
    for (int i = 0; i < count; ++i)
    {
        CCoord point(i, 2 * i);
        line->AddPoint(&point);
    }
    return line;
}

struct Written
{
    int result;
    std::vector<std::uint8_t> bytes;
};

Written Write(CPlotInfo& plot, CProgressCtrl* progress = nullptr)
{
    CPlotConfig config;
    CGenPlot writer;
    writer.Initialize("drawing", &config);
    TempFile file = MakeTempFile();
    int cancel = 0;
    const int result =
        writer.write_plot_file(file.get(), &plot, &config, progress, &cancel, nullptr);
    return {result, ReadAllBytes(file.get())};
}

} // namespace

TEST(WriterLongLineTest, OutlineOneOverTheLimitBecomesTwoRecords)
{
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {}, 0, 0, 6553, 13106);
    Fill(&piece->outline, 6554);

    ExpectedHeader header;
    header.pieceCount = 1;
    ByteBuilder expected;
    AppendHeaderRecord(expected, header);
    expected.Record(0x01FF, 0).Record(0x02FF, 0).Record(0x0300, 20);
    expected.I32(0).I32(0).I32(6553).I32(13106).I32(176);
    expected.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    expected.Record(0x0301, 65534).U16(0x0100).U16(6553);
    for (int i = 0; i < 6553; ++i)
    {
        expected.Point(i, 2 * i);
    }
    expected.Record(0x0301, 24).U16(0x0100).U16(2).Point(6552, 13104).Point(6553, 13106);
    expected.Record(0x03FF, 0).Record(0xFFFF, 0);

    const Written written = Write(plot);
    EXPECT_EQ(written.result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
}

TEST(WriterLongLineTest, RecordBoundariesFollowTheSplitRule)
{
    for (int count : {6553, 6554, 10000, 13105, 13106})
    {
        CPlotInfo plot;
        CPerim* piece = AddPiece(plot, {{0, 0}, {5, 0}, {0, 0}}, 0, 0, 5, 0);
        Fill(AddLine(piece, {}), count);

        const Written written = Write(plot);
        ASSERT_EQ(written.result, 1);
        const std::vector<Points> records = PolylineRecords(written.bytes);
        EXPECT_EQ(records, ExpectedRecordsOfPlot(plot)) << count << " points";
    }
}

TEST(WriterLongLineTest, TenThousandPointLineMakesTwoRecordsOfMatchingLength)
{
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {5, 0}, {0, 0}}, 0, 0, 5, 0);
    Fill(AddLine(piece, {}), 10000);
    const std::vector<Points> records = PolylineRecords(Write(plot).bytes);
    ASSERT_EQ(records.size(), 3u); // outline, then the line in two
    EXPECT_EQ(records[1].size(), 6553u);
    EXPECT_EQ(records[2].size(), 3448u);
    EXPECT_EQ(records[2].front(), records[1].back());
    EXPECT_EQ(records[2].back(), (std::pair<std::int32_t, std::int32_t>(9999, 19998)));
}

TEST(WriterLongLineTest, WideLineAfterFinalisationIsWrittenInMatchingRecords)
{
    // A wide zigzag of 10,000 points inside one piece: the fat-line pass gives each turn of
    // every stroke two points, so its strokes hold more than one record can.
    CPlotInfo plot;
    plot.currentPen = 1;
    for (const auto& [x, y] : Points{{0, 0}, {1000000, 0}, {1000000, 1000000}, {0, 0}})
    {
        plot.currentLine.AddPoint(x, y);
    }
    plot.CheckForClosure();
    plot.SetLineWidth(300);
    for (int i = 0; i < 10000; ++i)
    {
        plot.currentLine.AddPoint(1000 + 20 * i, 500000 + (i % 2) * 2000);
    }
    plot.CheckForClosure();
    plot.FinalizePlotInfo();

    std::size_t longest = 0;
    const auto* piece = static_cast<const CPerim*>(plot.pieces.GetHead());
    for (POSITION at = piece->nonPerimeterLines.GetHeadPosition(); at != nullptr;)
    {
        const auto* line = static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(at));
        longest = std::max(longest, static_cast<std::size_t>(line->GetPointCount()));
    }
    ASSERT_GT(longest, 6553u) << "the fat-line pass made no stroke past one record";

    const Written written = Write(plot);
    ASSERT_EQ(written.result, 1);
    EXPECT_EQ(PolylineRecords(written.bytes), ExpectedRecordsOfPlot(plot));
}

TEST(WriterLimitsTest, TooManyPiecesIsRefusedWithNothingWritten)
{
    CPlotInfo plot;
    for (int i = 0; i < 3300; ++i)
    {
        AddPiece(plot, {{i, 0}, {i + 1, 0}, {i, 0}}, i, 0, i + 1, 0);
    }
    CPlotConfig config;
    CGenPlot writer;
    writer.Initialize("drawing", &config);
    CGenPlot before = writer;
    TempFile file = MakeTempFile();
    RecordingWindow progress;
    int cancel = 0;

    EXPECT_EQ(
        writer.write_plot_file(file.get(), &plot, &config, progress.progress(), &cancel, nullptr),
        0);
    EXPECT_EQ(std::ftell(file.get()), 0);
    EXPECT_TRUE(ReadAllBytes(file.get()).empty());
    EXPECT_TRUE(progress.messages().empty());
    EXPECT_EQ(std::memcmp(before.header, writer.header, sizeof writer.header), 0);
}

TEST(WriterLimitsTest, MostPiecesTheTableCanHoldAreWritten)
{
    CPlotInfo plot;
    for (int i = 0; i < 3276; ++i)
    {
        AddPiece(plot, {{i, 0}, {i + 1, 0}, {i, 0}}, i, 0, i + 1, 0);
    }
    const Written written = Write(plot);
    ASSERT_EQ(written.result, 1);
    EXPECT_EQ(U16At(written.bytes, 58), 3276);            // pieceCount
    EXPECT_EQ(U16At(written.bytes, 154), 20 * 3276);      // piece-table length
    EXPECT_EQ(I32At(written.bytes, 156 + 20 * 3275 + 16), // last entry's section
              static_cast<std::int32_t>(156 + 20 * 3276 + 3275 * (4 + 5 + 38 + 4)));
}

TEST(WriterLimitsTest, TooManyLooseAnnotationsIsRefused)
{
    CPlotInfo plot;
    for (int i = 0; i < 65536; ++i)
    {
        plot.looseLabels.AddTail(MakeLabel("x", 0, 0, 5000));
    }
    const Written refused = Write(plot);
    EXPECT_EQ(refused.result, 0);
    EXPECT_TRUE(refused.bytes.empty());

    // Without the one over, the count field holds them all.
    delete plot.looseLabels.RemoveHead();
    const Written written = Write(plot);
    ASSERT_EQ(written.result, 1);
    EXPECT_EQ(U16At(written.bytes, 54), 65535);
    EXPECT_EQ(written.bytes.size(), 160u + 65535u * 35u);
}

TEST(WriterLimitsTest, EmptyLabelsDoNotCountTowardTheLimit)
{
    CPlotInfo plot;
    for (int i = 0; i < 65535; ++i)
    {
        plot.looseLabels.AddTail(MakeLabel("x", 0, 0, 5000));
    }
    plot.looseLabels.AddTail(MakeLabel("", 0, 0, 5000));
    EXPECT_EQ(Write(plot).result, 1);
}

TEST(WriterLimitsTest, TooManyPieceAnnotationsAcrossPiecesIsRefused)
{
    CPlotInfo plot;
    CPerim* first = AddPiece(plot, {{0, 0}, {1, 0}, {0, 0}}, 0, 0, 1, 0);
    CPerim* second = AddPiece(plot, {{2, 0}, {3, 0}, {2, 0}}, 2, 0, 3, 0);
    for (int i = 0; i < 40000; ++i)
    {
        first->labels.AddTail(MakeLabel("x", 0, 0, 5000));
    }
    for (int i = 0; i < 25536; ++i)
    {
        second->labels.AddTail(MakeLabel("x", 2, 0, 5000));
    }
    const Written refused = Write(plot);
    EXPECT_EQ(refused.result, 0);
    EXPECT_TRUE(refused.bytes.empty());
}
