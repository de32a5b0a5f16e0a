// The plot file reader on files spelled out byte by byte from the layout: sound files decode
// field for field, damaged ones are reported at the record or field at fault, and a file
// whose write was cancelled is told apart from a damaged one.

#include "genplot/plot_file_reader.h"
#include "support/byte_builder.h"
#include "support/test_folder.h"
#include "support/writer_fixtures.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using genplot::PlotFile;
using genplot::PlotFileStatus;
using genplot::ReadPlotFile;
using genplot::RecordType;

namespace
{

using Bytes = std::vector<std::uint8_t>;

void SetI32(Bytes& bytes, std::size_t at, std::int32_t value)
{
    const Bytes field = ByteBuilder().I32(value).bytes();
    std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

void SetU16(Bytes& bytes, std::size_t at, unsigned value)
{
    bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Header record and the two markers: bytes 0-151.
ByteBuilder Start(const ExpectedHeader& h)
{
    ByteBuilder out;
    AppendHeaderRecord(out, h);
    out.Record(0x01FF, 0).Record(0x02FF, 0);
    return out;
}

void Polyline(ByteBuilder& out, const std::vector<std::pair<std::int32_t, std::int32_t>>& points)
{
    out.Record(0x0301, static_cast<std::uint16_t>(10 * points.size() + 4))
        .U16(0x0100)
        .U16(static_cast<std::uint16_t>(points.size()));
    for (const auto& [x, y] : points)
    {
        out.Point(x, y);
    }
}

const std::vector<std::pair<std::int32_t, std::int32_t>> kSquare = {
    {0, 0}, {100, 0}, {100, 100}, {0, 0}};

// Piece-table record with one entry per recordOffset, every box (0,0)-(100,100).
void PieceTable(ByteBuilder& out, std::initializer_list<std::int32_t> recordOffsets)
{
    out.Record(0x0300, static_cast<std::uint16_t>(20 * recordOffsets.size()));
    for (std::int32_t offset : recordOffsets)
    {
        out.I32(0).I32(0).I32(100).I32(100).I32(offset);
    }
}

// Pen mode, line type 1 and the square outline: 4 + 5 + 48 bytes.
void OutlineRecords(ByteBuilder& out)
{
    out.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    Polyline(out, kSquare);
}

// The 160-byte file of a plot with no pieces and no labels.
Bytes EmptyPlot()
{
    ByteBuilder out = Start(SampleHeader());
    out.Record(0x0300, 0); // 152
    out.Record(0xFFFF, 0); // 156
    return out.bytes();
}

// One piece with a four-point outline, no lines, no labels: 241 bytes.
Bytes OnePiece()
{
    ExpectedHeader h = SampleHeader();
    h.pieceCount = 1;
    ByteBuilder out = Start(h);
    PieceTable(out, {176}); // 152, entry 156-175
    OutlineRecords(out);    // 176 pen mode, 180 line type (code at 184), 185 polyline (44)
    out.Record(0x03FF, 0);  // 233
    out.Record(0xFFFF, 0);  // 237
    return out.bytes();
}

// An annotation record: flags from whether a direction and a height are given; the extent
// is (x, y - 5)-(x + 30, y + 10).
void Annotation(ByteBuilder& out, const std::string& text, std::int32_t x, std::int32_t y,
                const std::int32_t* direction, const std::int32_t* height,
                std::uint8_t justification)
{
    out.Record(0x0500, static_cast<std::uint16_t>(30 + text.size() + (direction ? 8 : 0) +
                                                  (height ? 4 : 0)))
        .U16(static_cast<std::uint16_t>(text.size()))
        .U8(static_cast<std::uint8_t>((direction ? 0x01 : 0) | (height ? 0x10 : 0)))
        .U8(0)
        .U8(0)
        .U8(justification)
        .I32(x)
        .I32(y - 5)
        .I32(x + 30)
        .I32(y + 10)
        .I32(x)
        .I32(y);
    if (direction)
    {
        out.I32(direction[0]).I32(direction[1]);
    }
    if (height)
    {
        out.I32(*height);
    }
    out.Text(text);
}

// No pieces; two loose annotations at 156 (37 bytes) and 193 (45 bytes), end at 238.
Bytes LooseLabels()
{
    ExpectedHeader h = SampleHeader();
    h.looseAnnotationCount = 2;
    h.looseAnnotationOffset = 156;
    ByteBuilder out = Start(h);
    out.Record(0x0300, 0); // 152
    Annotation(out, "ABC", 5, 6, nullptr, nullptr, 1);
    const std::int32_t up[] = {0, 10000};
    Annotation(out, "ABC", 7, 8, up, nullptr, 5);
    out.Record(0xFFFF, 0); // 238
    return out.bytes();
}

// One piece (as OnePiece), then one piece annotation at 237 with a direction, a height and a
// two-line text (record length 46, 50 bytes), end at 287.
Bytes PieceLabel()
{
    ExpectedHeader h = SampleHeader();
    h.pieceCount = 1;
    h.pieceAnnotationCount = 1;
    h.pieceAnnotationOffset = 237;
    ByteBuilder out = Start(h);
    PieceTable(out, {176});
    OutlineRecords(out);
    out.Record(0x03FF, 0);
    const std::int32_t turned[] = {-3, 4};
    const std::int32_t height = 25;
    Annotation(out, "A\r\nB", 50, 60, turned, &height, 2);
    out.Record(0xFFFF, 0);
    return out.bytes();
}

PlotFile Read(const Bytes& bytes)
{
    return ReadPlotFile(bytes.data(), bytes.size());
}

// Two pieces; the write stopped after the first line of the second piece. Piece 0's section
// is complete (its entry patched), piece 1's entry still -1; the header is the first one
// written, with every section offset -1 and no annotation counts.
Bytes CancelledInSecondPiece()
{
    ExpectedHeader h = SampleHeader();
    h.pieceCount = 2;
    h.pieceTableOffset = -1;
    ByteBuilder out = Start(h);
    PieceTable(out, {196, -1});          // 152, entries 156-195
    OutlineRecords(out);                 // 196: piece 0, outline polyline at 205
    out.Record(0x03FF, 0);               // 253
    OutlineRecords(out);                 // 257: piece 1, outline polyline at 266
    out.Record(0x0410, 1).U8(2);         // 314: a broken line
    Polyline(out, {{10, 10}, {20, 20}}); // 319, 28 bytes: ends at 347
    return out.bytes();
}

} // namespace

TEST(PlotFileReaderTest, EmptyPlotDecodesEveryHeaderField)
{
    Bytes bytes = EmptyPlot();
    bytes[35] = 0; // configFlag high byte stays 0
    bytes[34] = 1;
    ASSERT_EQ(bytes.size(), 160u);
    const PlotFile file = Read(bytes);
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;
    EXPECT_TRUE(file.problem.empty());
    EXPECT_EQ(file.size, 160u);
    EXPECT_TRUE(file.hasHeader);
    EXPECT_EQ(file.header.sourceName, "sample");
    EXPECT_EQ(file.header.configFlag, 1);
    EXPECT_EQ(file.header.extents.lowerLeft.x, 0);
    EXPECT_EQ(file.header.extents.upperRight.y, 100);
    EXPECT_EQ(file.header.defaultTextHeight, 10);
    EXPECT_EQ(file.header.configValues, (std::array<std::int32_t, 5>{7, 8, 9, 10, 11}));
    EXPECT_EQ(file.header.sectionOffsets,
              (std::array<std::int32_t, 7>{-1, -1, -1, -1, 152, -1, -1}));
    EXPECT_EQ(file.markersRead, 2);
    EXPECT_TRUE(file.hasPieceTable);
    EXPECT_TRUE(file.pieces.empty());
    EXPECT_TRUE(file.hasEnd);
    EXPECT_EQ(file.endOffset, 156u);
}

TEST(PlotFileReaderTest, OnePieceDecodesEveryRecordAtItsOffset)
{
    const Bytes bytes = OnePiece();
    ASSERT_EQ(bytes.size(), 241u);
    const PlotFile file = Read(bytes);
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;
    ASSERT_EQ(file.pieces.size(), 1u);
    const auto& piece = file.pieces[0];
    EXPECT_EQ(piece.entryOffset, 156u);
    EXPECT_EQ(piece.recordOffset, 176);
    EXPECT_EQ(piece.sectionOffset, 176u);
    EXPECT_EQ(piece.box.upperRight.x, 100);
    ASSERT_EQ(piece.records.size(), 4u);
    EXPECT_EQ(piece.records[0].type, RecordType::PenMode);
    EXPECT_EQ(piece.records[0].offset, 176u);
    EXPECT_EQ(piece.records[1].type, RecordType::LineType);
    EXPECT_EQ(piece.records[1].offset, 180u);
    EXPECT_EQ(piece.records[1].lineTypeCode, 1);
    EXPECT_EQ(piece.records[2].type, RecordType::Polyline);
    EXPECT_EQ(piece.records[2].offset, 185u);
    ASSERT_EQ(piece.records[2].points.size(), 4u);
    EXPECT_EQ(piece.records[2].points[2].x, 100);
    EXPECT_EQ(piece.records[2].points[2].y, 100);
    EXPECT_FALSE(piece.records[2].continuesPrevious);
    EXPECT_EQ(piece.records[3].type, RecordType::PieceEnd);
    EXPECT_EQ(piece.records[3].offset, 233u);
    EXPECT_EQ(file.endOffset, 237u);
}

TEST(PlotFileReaderTest, AnnotationsDecodeWithDefaultsForAbsentFields)
{
    const PlotFile loose = Read(LooseLabels());
    ASSERT_EQ(loose.status, PlotFileStatus::Valid) << loose.problemOffset << ": " << loose.problem;
    ASSERT_EQ(loose.looseAnnotations.size(), 2u);
    EXPECT_TRUE(loose.pieceAnnotations.empty());
    const auto& plain = loose.looseAnnotations[0];
    EXPECT_EQ(plain.offset, 156u);
    EXPECT_EQ(plain.flags, 0);
    EXPECT_EQ(plain.text, "ABC");
    EXPECT_EQ(plain.directionX, 10000);
    EXPECT_EQ(plain.directionY, 0);
    EXPECT_EQ(plain.textHeight, 10); // the header's default
    EXPECT_EQ(plain.justification, 1);
    EXPECT_EQ(plain.position.x, 5);
    EXPECT_EQ(plain.extent.lowerLeft.y, 1);
    EXPECT_EQ(plain.extent.upperRight.x, 35);
    const auto& turned = loose.looseAnnotations[1];
    EXPECT_EQ(turned.offset, 193u);
    EXPECT_EQ(turned.flags, 0x01);
    EXPECT_EQ(turned.directionX, 0);
    EXPECT_EQ(turned.directionY, 10000);
    EXPECT_EQ(turned.justification, 5);
    EXPECT_EQ(loose.endOffset, 238u);

    const PlotFile pieceLabel = Read(PieceLabel());
    ASSERT_EQ(pieceLabel.status, PlotFileStatus::Valid)
        << pieceLabel.problemOffset << ": " << pieceLabel.problem;
    ASSERT_EQ(pieceLabel.pieceAnnotations.size(), 1u);
    const auto& both = pieceLabel.pieceAnnotations[0];
    EXPECT_EQ(both.offset, 237u);
    EXPECT_EQ(both.flags, 0x11);
    EXPECT_EQ(both.directionX, -3);
    EXPECT_EQ(both.directionY, 4);
    EXPECT_EQ(both.textHeight, 25);
    EXPECT_EQ(both.text, "A\r\nB");
}

TEST(PlotFileReaderTest, HeaderEdgeValuesDecode)
{
    ExpectedHeader h = SampleHeader();
    h.sourceName = "ABCDEFGHIJKLMNOPQRST"; // 20 bytes: no terminator inside the field
    h.extents[0] = -2147483647 - 1;
    h.extents[1] = -1;
    ByteBuilder bytes = Start(h);
    bytes.Record(0x0300, 0).Record(0xFFFF, 0);
    const PlotFile file = Read(bytes.bytes());
    EXPECT_EQ(file.status, PlotFileStatus::Valid) << file.problem;
    EXPECT_EQ(file.header.sourceName, "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(file.header.extents.lowerLeft.x, -2147483647 - 1);
    EXPECT_EQ(file.header.extents.lowerLeft.y, -1);
}

namespace
{

// A damaged file: a sound one (or none) with bytes changed, and where and in what words the
// reader must report the fault. `name` names the case in the test's name.
struct DamageCase
{
    const char* name;
    Bytes (*source)();
    void (*damage)(Bytes& bytes);
    std::uint64_t offset;
    const char* words;
};

void PrintTo(const DamageCase& damage, std::ostream* out)
{
    *out << damage.name;
}

Bytes NoBytes()
{
    return {};
}

const DamageCase kDamageCases[] = {
    {"TruncatedInsideTheOutline", OnePiece, [](Bytes& b) { b.resize(200); }, 185,
     "runs past the end"},
    {"TruncatedInsideARecordHeader", OnePiece, [](Bytes& b) { b.resize(235); }, 233,
     "truncated record header"},
    {"TruncatedInsideTheHeader", EmptyPlot, [](Bytes& b) { b.resize(100); }, 0,
     "runs past the end"},
    {"TwoBytes", NoBytes,
     [](Bytes& b) {
         b = {0xBE, 0xEF};
     },
     0, "not a generic plot file"},
    {"Empty", NoBytes, [](Bytes&) {}, 0, "not a generic plot file"},
    {"NoEndRecord", OnePiece, [](Bytes& b) { b.resize(237); }, 237, "without an end record"},
    {"PolylineLengthOneTooLong", OnePiece, [](Bytes& b) { SetU16(b, 187, 45); }, 185,
     "does not match its 4 points"},
    {"PieceTableOffsetOffByOne", OnePiece, [](Bytes& b) { SetI32(b, 172, 177); }, 172,
     "recordOffset 177"},
    {"PieceCountDisagrees", OnePiece, [](Bytes& b) { SetU16(b, 58, 2); }, 58, "pieceCount is 2"},
    {"LooseAnnotationCountTooHigh", LooseLabels, [](Bytes& b) { SetU16(b, 54, 3); }, 54,
     "looseAnnotationCount is 3"},
    {"AnnotationCountsShortOfTheRecords", LooseLabels, [](Bytes& b) { SetU16(b, 54, 1); }, 56,
     "pieceAnnotationCount is 0"},
    {"LooseAnnotationOffsetOffByOne", LooseLabels, [](Bytes& b) { SetI32(b, 124, 157); }, 124,
     "looseAnnotationOffset is 157"},
    {"PieceAnnotationOffsetMissing", PieceLabel, [](Bytes& b) { SetI32(b, 136, -1); }, 136,
     "pieceAnnotationOffset is -1"},
    {"PieceTableOffsetWrong", EmptyPlot, [](Bytes& b) { SetI32(b, 132, 148); }, 132,
     "pieceTableOffset is 148"},
    {"WrongMagic", EmptyPlot, [](Bytes& b) { b[4] = 'X'; }, 4, "magic"},
    {"WrongFirstRecord", EmptyPlot, [](Bytes& b) { SetU16(b, 0, 0x0300); }, 0,
     "not a generic plot file"},
    {"HeaderLength", EmptyPlot, [](Bytes& b) { SetU16(b, 2, 139); }, 0,
     "header record has length 139"},
    {"MarkersSwapped", EmptyPlot, [](Bytes& b) { SetU16(b, 144, 0x02FF); }, 144,
     "marker record 0x01FF"},
    {"PieceTableNotWholeEntries", EmptyPlot,
     [](Bytes& b) {
         SetU16(b, 154, 10);
         b.insert(b.begin() + 156, 10, 0);
     },
     152, "not a multiple"},
    {"FlagByte", EmptyPlot, [](Bytes& b) { b[115] = 0; }, 115, "0xFF"},
    {"UnusedSectionSlot", EmptyPlot, [](Bytes& b) { SetI32(b, 140, 0); }, 140, "slot 6"},
    {"BytesAfterTheEndRecord", EmptyPlot,
     [](Bytes& b) {
         b.insert(b.end(), {0xFF, 0xFF, 0, 0});
     },
     160, "4 bytes follow"},
    {"LineTypeCode", OnePiece, [](Bytes& b) { b[184] = 3; }, 184, "line-type code 3"},
    {"SectionOpensWithALineType", OnePiece, [](Bytes& b) { SetU16(b, 176, 0x0410); }, 176,
     "out of place"},
    {"SectionWithoutAPieceEnd", OnePiece, [](Bytes& b) { SetU16(b, 233, 0x0500); }, 233,
     "out of place"},
    {"PointListTag", OnePiece, [](Bytes& b) { SetU16(b, 189, 0x0200); }, 189, "point-list tag"},
    {"PointField", OnePiece, [](Bytes& b) { SetU16(b, 185 + 8 + 10 + 8, 1); }, 211, "point 1"},
    // Record length 33 made 34.
    {"AnnotationLength", LooseLabels, [](Bytes& b) { SetU16(b, 158, 34); }, 156,
     "annotation length 34"},
    {"AnnotationFlags", LooseLabels, [](Bytes& b) { b[162] = 0x03; }, 162, "unknown bits"},
    // The first text byte of the first annotation.
    {"UncleanedTextByte", LooseLabels, [](Bytes& b) { b[190] = 0x0E; }, 190, "0x0E"},
    {"PolylineAmongTheAnnotations", LooseLabels, [](Bytes& b) { SetU16(b, 193, 0x0301); }, 193,
     "polyline record (0x0301) where an annotation"},
    {"UnknownRecordWhereTheEndBelongs", EmptyPlot, [](Bytes& b) { SetU16(b, 156, 0x1234); }, 156,
     "unknown record (0x1234)"},
    // Files that only look cancelled: each breaks a rule a cancelled write always keeps.
    {"CancelledLookalikeEndingRightAfterTheOutline", CancelledInSecondPiece,
     [](Bytes& b) { b.resize(314); }, 314, "before its piece end"},
    {"CancelledLookalikeWithTheFinalHeader", CancelledInSecondPiece,
     [](Bytes& b) { SetI32(b, 132, 152); }, 192, "recordOffset -1 does not point at its section"},
    {"CancelledLookalikeWithALaterEntryFilledIn", CancelledInSecondPiece,
     [](Bytes& b) {
         SetU16(b, 154, 60);
         SetU16(b, 58, 3);
         const Bytes entry = ByteBuilder().I32(0).I32(0).I32(1).I32(1).I32(500).bytes();
         b.insert(b.begin() + 196, entry.begin(), entry.end());
         SetI32(b, 172, 216);
     },
     347 + 20, "ends inside the section of piece 1"},
    {"FirstWriteHeaderOnACompleteFile", EmptyPlot, [](Bytes& b) { SetI32(b, 132, -1); }, 132,
     "the header was not rewritten"},
};

class PlotFileReaderDamageTest : public ::testing::TestWithParam<DamageCase>
{
};

} // namespace

TEST_P(PlotFileReaderDamageTest, IsReportedAtTheFaultyRecordOrField)
{
    const DamageCase& damage = GetParam();
    Bytes bytes = damage.source();
    damage.damage(bytes);
    const PlotFile file = Read(bytes);
    EXPECT_EQ(file.status, PlotFileStatus::Invalid);
    EXPECT_EQ(file.problemOffset, damage.offset) << file.problem;
    EXPECT_NE(file.problem.find(damage.words), std::string::npos) << file.problem;
}

INSTANTIATE_TEST_SUITE_P(DamagedFiles, PlotFileReaderDamageTest, ::testing::ValuesIn(kDamageCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(PlotFileReaderTest, DamagedFileKeepsWhatWasDecodedBeforeTheProblem)
{
    Bytes b = PieceLabel();
    b.resize(260); // inside the annotation at 237
    const PlotFile file = Read(b);
    EXPECT_EQ(file.status, PlotFileStatus::Invalid);
    EXPECT_EQ(file.problemOffset, 237u);
    ASSERT_EQ(file.pieces.size(), 1u);
    EXPECT_EQ(file.pieces[0].records.size(), 4u);
    EXPECT_TRUE(file.pieceAnnotations.empty());
    EXPECT_FALSE(file.hasEnd);
}

TEST(PlotFileReaderTest, CancelledWriteIsRecognised)
{
    const Bytes bytes = CancelledInSecondPiece();
    ASSERT_EQ(bytes.size(), 347u);
    const PlotFile file = Read(bytes);
    EXPECT_EQ(file.status, PlotFileStatus::Cancelled) << file.problemOffset << ": " << file.problem;
    EXPECT_EQ(file.problemOffset, 347u);
    EXPECT_NE(file.problem.find("cancelled"), std::string::npos);
    ASSERT_EQ(file.pieces.size(), 2u);
    EXPECT_EQ(file.pieces[0].records.size(), 4u);
    ASSERT_EQ(file.pieces[1].records.size(), 5u);
    EXPECT_EQ(file.pieces[1].records[4].points.size(), 2u);
    EXPECT_FALSE(file.hasEnd);
}

TEST(PlotFileReaderTest, FollowOnRecordOfASplitLineIsMarked)
{
    ExpectedHeader h = SampleHeader();
    h.pieceCount = 1;
    ByteBuilder b = Start(h);
    PieceTable(b, {176});
    OutlineRecords(b);
    std::vector<std::pair<std::int32_t, std::int32_t>> first;
    for (std::int32_t i = 0; i < 6553; ++i)
    {
        first.emplace_back(i, 0);
    }
    Polyline(b, first);
    Polyline(b, {{6552, 0}, {6553, 1}}); // starts where the full record ended
    Polyline(b, {{6553, 1}, {0, 0}});    // starts there too, but the one before is not full
    b.Record(0x03FF, 0).Record(0xFFFF, 0);
    const PlotFile file = Read(b.bytes());
    ASSERT_EQ(file.status, PlotFileStatus::Valid) << file.problemOffset << ": " << file.problem;
    const auto& records = file.pieces[0].records;
    ASSERT_EQ(records.size(), 7u);
    EXPECT_FALSE(records[3].continuesPrevious);
    EXPECT_TRUE(records[4].continuesPrevious);
    EXPECT_FALSE(records[5].continuesPrevious);
}

TEST(PlotFileReaderTest, EveryPrefixAndEveryByteFlipIsReadSafely)
{
    // Under the sanitizers this is where an out-of-bounds read would show.
    const Bytes sources[] = {PieceLabel(), CancelledInSecondPiece(), LooseLabels()};
    for (const Bytes& source : sources)
    {
        for (std::size_t size = 0; size < source.size(); ++size)
        {
            const PlotFile file = ReadPlotFile(source.data(), size);
            EXPECT_NE(file.status, PlotFileStatus::Valid) << size;
            EXPECT_LE(file.problemOffset, size);
        }
        for (std::size_t at = 0; at < source.size(); ++at)
        {
            Bytes flipped = source;
            flipped[at] ^= 0xA5;
            const PlotFile file = Read(flipped);
            if (file.status != PlotFileStatus::Valid)
            {
                EXPECT_FALSE(file.problem.empty()) << at;
                EXPECT_LE(file.problemOffset, flipped.size()) << at;
            }
        }
    }
}

TEST(PlotFileReaderTest, LoadReportsFilesThatCannotBeRead)
{
    EXPECT_EQ(genplot::LoadPlotFile("/nonexistent/plot.gpf").status, PlotFileStatus::Unreadable);
    const PlotFile directory = genplot::LoadPlotFile("/");
    EXPECT_EQ(directory.status, PlotFileStatus::Unreadable);
    EXPECT_FALSE(directory.problem.empty());

    const TestFolder folder("reader");
    const std::string path = folder.Path("plot.gpf");
    const Bytes bytes = OnePiece();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
    const PlotFile file = genplot::LoadPlotFile(path);
    EXPECT_EQ(file.status, PlotFileStatus::Valid) << file.problem;
    EXPECT_EQ(file.size, 241u);
    EXPECT_EQ(file.pieces.size(), 1u);
}
