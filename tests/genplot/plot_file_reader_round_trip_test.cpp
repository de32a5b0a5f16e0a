// Files written by CGenPlot read back as exactly what was written: every header field, every
// record of every piece section with its points, every annotation; long lines split by the
// writer join up again; a cancelled write is recognised as cancelled.

#include "genplot/gen_plot.h"
#include "genplot/plot_file_reader.h"
#include "geometry/bbox.h"
#include "geometry/label_extent_internal.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"
#include "support/writer_fixtures.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using genplot::PlotFile;
using genplot::PlotFileStatus;
using genplot::RecordType;

namespace
{

using Points = std::vector<std::pair<std::int32_t, std::int32_t>>;

Points PointsOf(const CLineSeg& line)
{
    Points points;
    POSITION position = line.GetHeadPosition();
    while (position != nullptr)
    {
        const CCoord* point = line.GetNextPoint(position);
        points.emplace_back(point->x, point->y);
    }
    return points;
}

Points PointsOf(const genplot::PlotPieceRecord& record)
{
    Points points;
    for (const genplot::PlotFilePoint& point : record.points)
    {
        points.emplace_back(point.x, point.y);
    }
    return points;
}

// What one record of a piece section should be.
struct Expected
{
    RecordType type;
    int code = 0;                   // line-type records
    const CLineSeg* line = nullptr; // polyline records
};

void ExpectSection(const genplot::PlotFilePiece& piece, const std::vector<Expected>& expected)
{
    ASSERT_EQ(piece.records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE(i);
        const genplot::PlotPieceRecord& record = piece.records[i];
        EXPECT_EQ(record.type, expected[i].type);
        if (expected[i].type == RecordType::LineType)
        {
            EXPECT_EQ(record.lineTypeCode, expected[i].code);
        }
        if (expected[i].line != nullptr)
        {
            EXPECT_EQ(PointsOf(record), PointsOf(*expected[i].line));
            EXPECT_FALSE(record.continuesPrevious);
        }
    }
}

PlotFile WriteAndRead(CGenPlot& writer, CPlotInfo& plot, CPlotConfig& config, int* cancel,
                      int* penTable, int expectedResult = 1)
{
    TempFile file = MakeTempFile();
    EXPECT_EQ(writer.write_plot_file(file.get(), &plot, &config, nullptr, cancel, penTable),
              expectedResult);
    const std::vector<std::uint8_t> bytes = ReadAllBytes(file.get());
    return genplot::ReadPlotFile(bytes.data(), bytes.size());
}

// Two pieces with lines on several pens and line types, labels in both sections.
class ReaderRoundTripTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        config.configFlag = 3;
        config.configValue1 = 11;
        config.configValue2 = 22;
        config.configValue3 = 33;
        config.configValue4 = 44;
        config.configValue5 = 55;
        config.configValue6 = 66;
        writer.Initialize("a source name longer than twenty", &config);

        plot.defaultTextHeight = 40;
        plot.extents.lowerLeft = CCoord(-5, -6);
        plot.extents.upperRight = CCoord(3000, 1000);
        first = AddPiece(plot, {{0, 0}, {1000, 0}, {1000, 1000}, {0, 0}}, 0, 0, 1000, 1000, 1, 0);
        lineA = AddLine(first, {{10, 10}, {20, 20}, {30, 10}}, 2, 1);
        lineB = AddLine(first, {{100, 100}, {200, 200}}, 2, 2);
        lineC = AddLine(first, {{5, 5}, {6, 6}}, 1, 0);
        first->labels.AddTail(MakeLabel("Hello", 50, 60, 40));
        first->labels.AddTail(MakeLabel("Up\r\nTwo", 70, 80, 55, 0, 10000, 5));
        second = AddPiece(plot, {{2000, 0}, {3000, 0}, {2500, 800}, {2000, 0}}, 2000, 0, 3000, 800,
                          3, 2);
        second->labels.AddTail(MakeLabel("", 1, 1, 40)); // empty: not written
        second->labels.AddTail(MakeLabel("A\x0E"
                                         "B\x03"
                                         "C",
                                         2500, 100, 40, -3, 4, 2));
        plot.looseLabels.AddTail(MakeLabel("loose", -5, -6, 12));
    }

    CPlotConfig config;
    CGenPlot writer;
    CPlotInfo plot;
    CPerim* first = nullptr;
    CPerim* second = nullptr;
    CLineSeg* lineA = nullptr;
    CLineSeg* lineB = nullptr;
    CLineSeg* lineC = nullptr;
};

void ExpectAnnotation(const genplot::PlotFileAnnotation& a, const std::string& text, std::int32_t x,
                      std::int32_t y, std::int32_t height, std::int32_t dx, std::int32_t dy,
                      int justification, std::uint8_t flags)
{
    SCOPED_TRACE(text);
    EXPECT_EQ(a.text, text);
    EXPECT_EQ(a.position.x, x);
    EXPECT_EQ(a.position.y, y);
    EXPECT_EQ(a.textHeight, height);
    EXPECT_EQ(a.directionX, dx);
    EXPECT_EQ(a.directionY, dy);
    EXPECT_EQ(a.justification, justification);
    EXPECT_EQ(a.flags, flags);
    CBBox extent;
    genplot::detail::ComputeLabelExtent(x, y, dx, dy, justification, text.c_str(), height, &extent);
    EXPECT_EQ(a.extent.lowerLeft.x, extent.lowerLeft.x);
    EXPECT_EQ(a.extent.lowerLeft.y, extent.lowerLeft.y);
    EXPECT_EQ(a.extent.upperRight.x, extent.upperRight.x);
    EXPECT_EQ(a.extent.upperRight.y, extent.upperRight.y);
}

} // namespace

TEST_F(ReaderRoundTripTest, WrittenPlotReadsBackFieldForField)
{
    int penTable[] = {0, 1, 0, 1}; // pens 1 and 3 on, pen 2 off
    const PlotFile file = WriteAndRead(writer, plot, config, nullptr, penTable);
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;

    const genplot::PlotFileHeader& h = file.header;
    EXPECT_EQ(h.sourceName, "a source name longer");
    EXPECT_EQ(h.configFlag, 1);
    EXPECT_EQ(h.extents.lowerLeft.x, -5);
    EXPECT_EQ(h.extents.lowerLeft.y, -6);
    EXPECT_EQ(h.extents.upperRight.x, 3000);
    EXPECT_EQ(h.extents.upperRight.y, 1000);
    EXPECT_EQ(h.pieceCount, 2);
    EXPECT_EQ(h.looseAnnotationCount, 1);
    EXPECT_EQ(h.pieceAnnotationCount, 3);
    EXPECT_EQ(h.defaultTextHeight, 40);
    EXPECT_EQ(h.configValues, (std::array<std::int32_t, 5>{22, 11, 33, 44, 55}));

    ASSERT_EQ(file.pieces.size(), 2u);
    EXPECT_EQ(file.pieces[0].box.upperRight.x, 1000);
    EXPECT_EQ(file.pieces[1].box.lowerLeft.x, 2000);
    EXPECT_EQ(file.pieces[1].box.upperRight.y, 800);
    ExpectSection(file.pieces[0], {{RecordType::PenMode},
                                   {RecordType::LineType, 1},
                                   {RecordType::Polyline, 0, &first->outline},
                                   {RecordType::PenModeOff},
                                   {RecordType::LineType, 2},
                                   {RecordType::Polyline, 0, lineA},
                                   {RecordType::Polyline, 0, lineB},
                                   {RecordType::PenMode},
                                   {RecordType::LineType, 1},
                                   {RecordType::Polyline, 0, lineC},
                                   {RecordType::PieceEnd}});
    ExpectSection(file.pieces[1], {{RecordType::PenMode},
                                   {RecordType::LineType, 2},
                                   {RecordType::Polyline, 0, &second->outline},
                                   {RecordType::PieceEnd}});

    ASSERT_EQ(file.looseAnnotations.size(), 1u);
    ExpectAnnotation(file.looseAnnotations[0], "loose", -5, -6, 12, 10000, 0, 1, 0x10);
    ASSERT_EQ(file.pieceAnnotations.size(), 3u);
    ExpectAnnotation(file.pieceAnnotations[0], "Hello", 50, 60, 40, 10000, 0, 1, 0x00);
    ExpectAnnotation(file.pieceAnnotations[1], "Up\r\nTwo", 70, 80, 55, 0, 10000, 5, 0x11);
    ExpectAnnotation(file.pieceAnnotations[2], "AB", 2500, 100, 40, -3, 4, 2, 0x01);
}

TEST_F(ReaderRoundTripTest, WithoutPenTableEachPieceHasOnePenModeRecord)
{
    const PlotFile file = WriteAndRead(writer, plot, config, nullptr, nullptr);
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;
    ExpectSection(file.pieces[0], {{RecordType::PenMode},
                                   {RecordType::LineType, 1},
                                   {RecordType::Polyline, 0, &first->outline},
                                   {RecordType::LineType, 2},
                                   {RecordType::Polyline, 0, lineA},
                                   {RecordType::Polyline, 0, lineB},
                                   {RecordType::LineType, 1},
                                   {RecordType::Polyline, 0, lineC},
                                   {RecordType::PieceEnd}});
}

TEST_F(ReaderRoundTripTest, CancelledWriteIsRecognisedAsCancelled)
{
    int cancel = 1; // set before the write: it stops after the first line of the first piece
    const PlotFile file = WriteAndRead(writer, plot, config, &cancel, nullptr, 0);
    EXPECT_EQ(file.status, PlotFileStatus::Cancelled) << file.problemOffset << ": " << file.problem;
    ASSERT_EQ(file.pieces.size(), 2u);
    ExpectSection(file.pieces[0], {{RecordType::PenMode},
                                   {RecordType::LineType, 1},
                                   {RecordType::Polyline, 0, &first->outline},
                                   {RecordType::LineType, 2},
                                   {RecordType::Polyline, 0, lineA}});
    EXPECT_TRUE(file.pieces[1].records.empty());
    EXPECT_EQ(file.pieces[1].recordOffset, -1);
}

TEST(ReaderRoundTripLongLineTest, SplitLineJoinsUpAgain)
{
    CPlotConfig config;
    CGenPlot writer;
    writer.Initialize("long", &config);
    CPlotInfo plot;
    plot.defaultTextHeight = 10;
    CPerim* piece = AddPiece(plot, {{0, 0}, {8000, 0}, {8000, 10}, {0, 0}}, 0, 0, 8000, 10);
    CLineSeg* line = AddLine(piece, {});
    for (std::int32_t i = 0; i < 7000; ++i)
    {
        CCoord point(i, i % 7);
        line->AddPoint(&point);
    }
    const PlotFile file = WriteAndRead(writer, plot, config, nullptr, nullptr);
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;
    const auto& records = file.pieces[0].records;
    ASSERT_EQ(records.size(), 6u); // pen, line type, outline, two line records, piece end
    EXPECT_EQ(records[3].points.size(), genplot::kMaxPolylinePoints);
    EXPECT_FALSE(records[3].continuesPrevious);
    EXPECT_TRUE(records[4].continuesPrevious);
    Points joined = PointsOf(records[3]);
    const Points rest = PointsOf(records[4]);
    joined.insert(joined.end(), rest.begin() + 1, rest.end());
    EXPECT_EQ(joined, PointsOf(*line));
}

TEST(ReaderRoundTripEmptyTest, EmptyPlotIsTheSmallestValidFile)
{
    CPlotConfig config;
    CGenPlot writer;
    writer.Initialize("empty", &config);
    CPlotInfo plot;
    const PlotFile file = WriteAndRead(writer, plot, config, nullptr, nullptr);
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;
    EXPECT_EQ(file.size, 160u);
    EXPECT_EQ(file.endOffset, 156u);
    EXPECT_TRUE(file.pieces.empty());
}
