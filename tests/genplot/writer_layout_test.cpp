#include "genplot/gen_plot.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"
#include "support/writer_fixtures.h"

#include <cstring>

#include <gtest/gtest.h>

// Whole files, byte for byte, against layouts spelled out by hand.

namespace
{

ByteBuilder& Polyline(ByteBuilder& bytes, PointList points)
{
    const auto n = static_cast<std::uint16_t>(points.size());
    bytes.Record(0x0301, static_cast<std::uint16_t>(10 * n + 4)).U16(0x0100).U16(n);
    for (const auto& [x, y] : points)
    {
        bytes.Point(x, y);
    }
    return bytes;
}

ByteBuilder& Empty(ByteBuilder& bytes, std::uint16_t type)
{
    return bytes.Record(type, 0);
}

ByteBuilder& LineType(ByteBuilder& bytes, std::uint8_t code)
{
    return bytes.Record(0x0410, 1).U8(code);
}

// Header, markers and a piece table for one piece whose section starts right after it.
ByteBuilder OnePieceFileStart(std::int32_t llx, std::int32_t lly, std::int32_t urx,
                              std::int32_t ury)
{
    ExpectedHeader header;
    header.pieceCount = 1;
    ByteBuilder bytes;
    AppendHeaderRecord(bytes, header);
    Empty(bytes, 0x01FF);
    Empty(bytes, 0x02FF);
    bytes.Record(0x0300, 20).I32(llx).I32(lly).I32(urx).I32(ury).I32(176);
    return bytes;
}

struct Written
{
    int result;
    long position;
    std::vector<std::uint8_t> bytes;
};

Written Write(CGenPlot& writer, CPlotInfo& plot, int* penTable = nullptr)
{
    TempFile file = MakeTempFile();
    CPlotConfig config;
    const int result =
        writer.write_plot_file(file.get(), &plot, &config, nullptr, nullptr, penTable);
    const long position = std::ftell(file.get());
    return {result, position, ReadAllBytes(file.get())};
}

Written WriteFresh(CPlotInfo& plot, int* penTable = nullptr)
{
    CGenPlot writer;
    CPlotConfig config;
    writer.Initialize("drawing", &config);
    return Write(writer, plot, penTable);
}

} // namespace

TEST(WriterLayoutTest, EmptyPlotIsTheHeaderMarkersEmptyTableAndEndRecord)
{
    CPlotConfig config;
    config.configFlag = 7;
    config.configValue1 = 11;
    config.configValue2 = 22;
    config.configValue3 = 33;
    config.configValue4 = -44;
    config.configValue5 = 55;
    config.configValue6 = 66; // replaced by the plot's own default text height
    CGenPlot writer;
    writer.Initialize("drawing", &config);
    CPlotInfo plot;

    const Written written = Write(writer, plot);

    ExpectedHeader header;
    header.configFlag = 1;
    const std::int32_t values[5] = {22, 11, 33, -44, 55};
    std::memcpy(header.configValues, values, sizeof values);
    ByteBuilder expected;
    AppendHeaderRecord(expected, header);
    Empty(expected, 0x01FF);
    Empty(expected, 0x02FF);
    expected.Record(0x0300, 0);
    Empty(expected, 0xFFFF);
    ASSERT_EQ(expected.size(), 160u);

    EXPECT_EQ(written.result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
    EXPECT_EQ(written.position, 144); // left just after the header record
    const std::vector<std::uint8_t> signature = {0xBE, 0xEF, 0x8C, 0x00};
    EXPECT_EQ(std::vector<std::uint8_t>(written.bytes.begin(), written.bytes.begin() + 4),
              signature);
}

TEST(WriterLayoutTest, SourceNameIsCutToTwentyBytesAndPadded)
{
    CPlotInfo plot;
    CPlotConfig config;
    CGenPlot writer;
    writer.Initialize("ABCDEFGHIJKLMNOPQRSTUVWXYZ", &config);
    ExpectedHeader header;
    header.sourceName = "ABCDEFGHIJKLMNOPQRST";
    ByteBuilder expected;
    AppendHeaderRecord(expected, header);
    const Written longName = Write(writer, plot);
    ASSERT_EQ(longName.bytes.size(), 160u);
    EXPECT_TRUE(
        SameBytes(expected.bytes(),
                  std::vector<std::uint8_t>(longName.bytes.begin(), longName.bytes.begin() + 144)));

    // A shorter name after the long one leaves no trace of it.
    writer.Initialize("ab", &config);
    header.sourceName = "ab";
    ByteBuilder shorter;
    AppendHeaderRecord(shorter, header);
    const Written shortName = Write(writer, plot);
    EXPECT_TRUE(
        SameBytes(shorter.bytes(), std::vector<std::uint8_t>(shortName.bytes.begin(),
                                                             shortName.bytes.begin() + 144)));
}

TEST(WriterLayoutTest, SinglePieceHasItsSectionAtTheOffsetsOfTheLayout)
{
    CPlotInfo plot;
    AddPiece(plot, {{0, 0}, {100, 0}, {100, 100}, {0, 0}}, 0, 0, 100, 100);
    plot.extents.lowerLeft = CCoord(0, 0);
    plot.extents.upperRight = CCoord(100, 100);
    plot.defaultTextHeight = 250;

    ExpectedHeader header;
    header.pieceCount = 1;
    header.defaultTextHeight = 250;
    const std::int32_t extents[4] = {0, 0, 100, 100};
    std::memcpy(header.extents, extents, sizeof extents);
    ByteBuilder expected;
    AppendHeaderRecord(expected, header);
    Empty(expected, 0x01FF);
    Empty(expected, 0x02FF);
    expected.Record(0x0300, 20).I32(0).I32(0).I32(100).I32(100).I32(176);
    ASSERT_EQ(expected.size(), 176u);
    Empty(expected, 0x0400);
    ASSERT_EQ(expected.size(), 180u);
    LineType(expected, 1);
    ASSERT_EQ(expected.size(), 185u);
    Polyline(expected, {{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    ASSERT_EQ(expected.size(), 233u);
    Empty(expected, 0x03FF);
    Empty(expected, 0xFFFF);
    ASSERT_EQ(expected.size(), 241u);

    const Written written = WriteFresh(plot);
    EXPECT_EQ(written.result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
    EXPECT_EQ(written.position, 144);
}

TEST(WriterLayoutTest, WithoutPenTableOnePenModeRecordPerPiece)
{
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    AddLine(piece, {{1, 1}, {2, 2}}, 2);
    AddLine(piece, {{3, 3}, {4, 4}}, 3);

    ByteBuilder expected = OnePieceFileStart(0, 0, 10, 0);
    Empty(expected, 0x0400);
    LineType(expected, 1);
    Polyline(expected, {{0, 0}, {10, 0}, {0, 0}});
    Polyline(expected, {{1, 1}, {2, 2}});
    Polyline(expected, {{3, 3}, {4, 4}});
    Empty(expected, 0x03FF);
    Empty(expected, 0xFFFF);

    const Written written = WriteFresh(plot);
    EXPECT_EQ(written.result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
}

TEST(WriterLayoutTest, PenTableWritesAPenModeRecordOnEveryPenChange)
{
    int penTable[4] = {0, 1, 1, 1};
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0, 1);
    AddLine(piece, {{1, 1}, {2, 2}}, 2);
    AddLine(piece, {{3, 3}, {4, 4}}, 3);

    ByteBuilder expected = OnePieceFileStart(0, 0, 10, 0);
    Empty(expected, 0x0400);
    LineType(expected, 1);
    Polyline(expected, {{0, 0}, {10, 0}, {0, 0}});
    Empty(expected, 0x0400);
    Polyline(expected, {{1, 1}, {2, 2}});
    Empty(expected, 0x0400); // same record type, but the pen changed
    Polyline(expected, {{3, 3}, {4, 4}});
    Empty(expected, 0x03FF);
    Empty(expected, 0xFFFF);

    const Written written = WriteFresh(plot, penTable);
    EXPECT_EQ(written.result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
}

TEST(WriterLayoutTest, PenTableLinesOnTheOutlinePenGetNoRecord)
{
    int penTable[2] = {0, 1};
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0, 1);
    AddLine(piece, {{1, 1}, {2, 2}}, 1);
    AddLine(piece, {{3, 3}, {4, 4}}, 1);

    ByteBuilder expected = OnePieceFileStart(0, 0, 10, 0);
    Empty(expected, 0x0400);
    LineType(expected, 1);
    Polyline(expected, {{0, 0}, {10, 0}, {0, 0}});
    Polyline(expected, {{1, 1}, {2, 2}});
    Polyline(expected, {{3, 3}, {4, 4}});
    Empty(expected, 0x03FF);
    Empty(expected, 0xFFFF);

    const Written written = WriteFresh(plot, penTable);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
}

TEST(WriterLayoutTest, PenTableZeroEntryGivesTheOtherPenModeRecord)
{
    int penTable[3] = {1, 0, 1};
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0, 1);
    AddLine(piece, {{1, 1}, {2, 2}}, 2);
    AddLine(piece, {{3, 3}, {4, 4}}, 2);
    AddLine(piece, {{5, 5}, {6, 6}}, 1);

    ByteBuilder expected = OnePieceFileStart(0, 0, 10, 0);
    Empty(expected, 0x0401);
    LineType(expected, 1);
    Polyline(expected, {{0, 0}, {10, 0}, {0, 0}});
    Empty(expected, 0x0400);
    Polyline(expected, {{1, 1}, {2, 2}});
    Polyline(expected, {{3, 3}, {4, 4}});
    Empty(expected, 0x0401);
    Polyline(expected, {{5, 5}, {6, 6}});
    Empty(expected, 0x03FF);
    Empty(expected, 0xFFFF);

    const Written written = WriteFresh(plot, penTable);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
}

TEST(WriterLayoutTest, LineTypeRecordOnlyWhenTheCodeChanges)
{
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0, 1, 1);
    AddLine(piece, {{1, 1}, {2, 2}}, 1, 2); // code 2 as the outline: nothing
    AddLine(piece, {{3, 3}, {4, 4}}, 1, 0); // code 1
    AddLine(piece, {{5, 5}, {6, 6}}, 1, 0); // unchanged
    AddLine(piece, {{7, 7}, {8, 8}}, 1, 1); // code 2 again
    // Set directly, past the setter's check: any type but 0 is code 2, so nothing.
    AddLine(piece, {{9, 9}, {10, 10}}, 1, -7);

    ByteBuilder expected = OnePieceFileStart(0, 0, 10, 0);
    Empty(expected, 0x0400);
    LineType(expected, 2);
    Polyline(expected, {{0, 0}, {10, 0}, {0, 0}});
    Polyline(expected, {{1, 1}, {2, 2}});
    LineType(expected, 1);
    Polyline(expected, {{3, 3}, {4, 4}});
    Polyline(expected, {{5, 5}, {6, 6}});
    LineType(expected, 2);
    Polyline(expected, {{7, 7}, {8, 8}});
    Polyline(expected, {{9, 9}, {10, 10}});
    Empty(expected, 0x03FF);
    Empty(expected, 0xFFFF);

    const Written written = WriteFresh(plot);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
}

TEST(WriterLayoutTest, TwoPiecesPatchTheTableAndWriteBothAnnotationSections)
{
    CPlotInfo plot;
    plot.defaultTextHeight = 10;
    CPerim* first = AddPiece(plot, {{0, 0}, {10, 0}, {10, 10}, {0, 0}}, 0, 0, 10, 10);
    AddLine(first, {{1, 1}, {2, 2}});
    first->labels.AddTail(MakeLabel("P1", 100, 100, 10));
    CPerim* second = AddPiece(plot, {{20, 20}, {30, 20}, {20, 20}}, 20, 20, 30, 20);
    second->labels.AddTail(MakeLabel("", 5, 5, 10)); // empty: skipped, not counted
    second->labels.AddTail(MakeLabel("Q", 200, 200, 10));
    plot.looseLabels.AddTail(MakeLabel("L", 0, 20, 10));
    plot.looseLabels.AddTail(nullptr); // not a label: skipped

    ByteBuilder body;
    Empty(body, 0x01FF);
    Empty(body, 0x02FF);
    body.Record(0x0300, 40).I32(0).I32(0).I32(10).I32(10).I32(196);
    body.I32(20).I32(20).I32(30).I32(20).I32(285);
    ASSERT_EQ(144 + body.size(), 196u);
    Empty(body, 0x0400);
    LineType(body, 1);
    Polyline(body, {{0, 0}, {10, 0}, {10, 10}, {0, 0}});
    Polyline(body, {{1, 1}, {2, 2}});
    Empty(body, 0x03FF);
    ASSERT_EQ(144 + body.size(), 285u);
    Empty(body, 0x0400);
    LineType(body, 1);
    Polyline(body, {{20, 20}, {30, 20}, {20, 20}});
    Empty(body, 0x03FF);
    ASSERT_EQ(144 + body.size(), 336u);
    // "L" at (0, 20), height 10: one line one character wide, block (0, 15)-(10, 30).
    body.Record(0x0500, 31).U16(1).U8(0).U8(0).U8(0).U8(1);
    body.I32(0).I32(15).I32(10).I32(30).I32(0).I32(20).Text("L");
    ASSERT_EQ(144 + body.size(), 371u);
    body.Record(0x0500, 32).U16(2).U8(0).U8(0).U8(0).U8(1);
    body.I32(100).I32(95).I32(120).I32(110).I32(100).I32(100).Text("P1");
    body.Record(0x0500, 31).U16(1).U8(0).U8(0).U8(0).U8(1);
    body.I32(200).I32(195).I32(210).I32(210).I32(200).I32(200).Text("Q");
    Empty(body, 0xFFFF);

    ExpectedHeader header;
    header.pieceCount = 2;
    header.defaultTextHeight = 10;
    header.looseAnnotationCount = 1;
    header.looseAnnotationOffset = 336;
    header.pieceAnnotationCount = 2;
    header.pieceAnnotationOffset = 371;
    ByteBuilder expected;
    AppendHeaderRecord(expected, header).Append(body.bytes());

    const Written written = WriteFresh(plot);
    EXPECT_EQ(written.result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), written.bytes));
    EXPECT_EQ(written.position, 144);
}

TEST(WriterLayoutTest, PieceLabelsOnlyLeaveTheLooseSectionAbsent)
{
    CPlotInfo plot;
    plot.defaultTextHeight = 10;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    piece->labels.AddTail(MakeLabel("Q", 200, 200, 10));

    ByteBuilder body;
    Empty(body, 0x01FF);
    Empty(body, 0x02FF);
    body.Record(0x0300, 20).I32(0).I32(0).I32(10).I32(0).I32(176);
    Empty(body, 0x0400);
    LineType(body, 1);
    Polyline(body, {{0, 0}, {10, 0}, {0, 0}});
    Empty(body, 0x03FF);
    ASSERT_EQ(144 + body.size(), 227u);
    body.Record(0x0500, 31).U16(1).U8(0).U8(0).U8(0).U8(1);
    body.I32(200).I32(195).I32(210).I32(210).I32(200).I32(200).Text("Q");
    Empty(body, 0xFFFF);

    ExpectedHeader header;
    header.pieceCount = 1;
    header.defaultTextHeight = 10;
    header.pieceAnnotationCount = 1;
    header.pieceAnnotationOffset = 227;
    ByteBuilder expected;
    AppendHeaderRecord(expected, header).Append(body.bytes());

    EXPECT_TRUE(SameBytes(expected.bytes(), WriteFresh(plot).bytes));
}

TEST(WriterStateTest, NewWriterHeaderIsAllZero)
{
    CGenPlot writer;
    for (std::uint8_t byte : writer.header)
    {
        ASSERT_EQ(byte, 0);
    }
}

TEST(WriterStateTest, SecondWriteWithoutInitializeGivesTheSameFile)
{
    CPlotInfo plot;
    plot.defaultTextHeight = 10;
    AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    plot.looseLabels.AddTail(MakeLabel("L", 0, 20, 10));
    CGenPlot writer;
    CPlotConfig config;
    writer.Initialize("drawing", &config);

    const Written firstFile = Write(writer, plot);
    const Written secondFile = Write(writer, plot);
    EXPECT_EQ(firstFile.result, 1);
    EXPECT_EQ(secondFile.result, 1);
    EXPECT_TRUE(SameBytes(firstFile.bytes, secondFile.bytes));
}

TEST(WriterStateTest, AssignmentCopiesTheWholeHeader)
{
    CPlotConfig config;
    config.configFlag = 1;
    config.configValue3 = 99;
    CGenPlot source;
    source.Initialize("copied", &config);
    CGenPlot target;
    target = source;
    EXPECT_EQ(std::memcmp(target.header, source.header, sizeof source.header), 0);
    CGenPlot constructed(source);
    EXPECT_EQ(std::memcmp(constructed.header, source.header, sizeof source.header), 0);
    target = target; // self-assignment keeps the header
    EXPECT_EQ(std::memcmp(target.header, source.header, sizeof source.header), 0);
}
