// The plotter-file exporter on plots built field by field; the expected bytes are written out
// by hand from the HP-GL command set and the PE number encoding.

#include "render/hpgl_export.h"
#include "support/failing_stream.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::PlotFile;
using genplot::PlotFileAnnotation;
using genplot::PlotFilePiece;
using genplot::PlotFilePoint;
using genplot::PlotPieceRecord;
using genplot::RecordType;
using genplot::render::ExportHpgl;
using genplot::render::HpglDialect;

PlotPieceRecord Record(RecordType type, std::uint8_t code = 0)
{
    PlotPieceRecord record;
    record.type = type;
    record.lineTypeCode = code;
    return record;
}

PlotPieceRecord Polyline(std::vector<PlotFilePoint> points, bool continues = false)
{
    PlotPieceRecord record = Record(RecordType::Polyline);
    record.points = std::move(points);
    record.continuesPrevious = continues;
    return record;
}

PlotFileAnnotation Label(std::string text, std::int32_t x, std::int32_t y, std::int32_t height,
                         std::uint8_t justification = 1, std::int32_t dx = 10000,
                         std::int32_t dy = 0)
{
    PlotFileAnnotation label;
    label.text = std::move(text);
    label.position = {x, y};
    label.textHeight = height;
    label.justification = justification;
    label.directionX = dx;
    label.directionY = dy;
    return label;
}

PlotFile Plot(std::vector<PlotFilePiece> pieces, std::vector<PlotFileAnnotation> labels = {})
{
    PlotFile plot;
    plot.status = genplot::PlotFileStatus::Valid;
    plot.hasHeader = true;
    plot.header.extents = {{0, 0}, {100, 50}};
    plot.pieces = std::move(pieces);
    plot.looseAnnotations = std::move(labels);
    return plot;
}

std::string Export(const PlotFile& plot, HpglDialect dialect)
{
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    EXPECT_TRUE(ExportHpgl(plot, file, dialect));
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
    {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
}

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string text;
    for (int byte : bytes)
    {
        text += static_cast<char>(byte);
    }
    return text;
}

// A piece with a closed outline, a broken line, a pen change and a lone point.
PlotFile Drawing()
{
    PlotFilePiece piece;
    piece.records = {Record(RecordType::PenMode),
                     Record(RecordType::LineType, 1),
                     Polyline({{0, 0}, {100, 0}, {100, 50}, {0, 0}}),
                     Record(RecordType::LineType, 2),
                     Polyline({{10, 10}, {20, 10}}),
                     Record(RecordType::PenModeOff),
                     Polyline({{30, 30}}),
                     Record(RecordType::PieceEnd)};
    return Plot({piece}, {Label("AB", 5, 6, 40)});
}

} // namespace

TEST(HpglExportTest, Hpgl2DrawsWithEncodedPolylinesPensLineTypesAndLabels)
{
    // PE numbers: 0 -> 191; 100 -> 200 = 8 + 3 * 64 -> 71, 194; 50 -> 100 -> 99, 192;
    // -100 -> 201 -> 72, 194; -50 -> 101 -> 100, 192; 10 -> 20 -> 211; 30 -> 60 -> 251.
    const std::string expected =
        "BP;IN;\nPS100,50;\nSP1;\nPE" +
        Bytes({'<', '=', 191, 191, 71, 194, 191, 191, 99, 192, 72, 194, 100, 192, '\n'}) +
        ";\nLT2;\nPE" + Bytes({'<', '=', 211, 211, 211, 191, '\n'}) + ";\nSP2;\nPE" +
        Bytes({'<', '=', 251, 251, 191, 191, '\n'}) +
        ";\nSI0.0667,0.1;\nDI;\nPU5,6;LBAB\x03\nPU;SP0;PG;\n";
    EXPECT_EQ(Export(Drawing(), HpglDialect::Hpgl2), expected);
}

TEST(HpglExportTest, PlainHpglDrawsWithCoordinateLists)
{
    const std::string expected = "IN;\nSP1;\nPU0,0;\nPD100,0,100,50,0,0;\nLT2;\nPU10,10;\n"
                                 "PD20,10;\nSP2;\nPU30,30;\nPD30,30;\nSI0.0667,0.1;\nDI;\n"
                                 "PU5,6;LBAB\x03\nPU;SP0;PG;\n";
    EXPECT_EQ(Export(Drawing(), HpglDialect::Hpgl1), expected);
}

TEST(HpglExportTest, EncodedNumbersFollowTheReferenceExample)
{
    // The reference encodes 21050 (the value 10525 with its sign bit) as 121, 71, 196; a
    // negative delta carries the sign in bit 0.
    PlotFilePiece piece;
    piece.records = {Polyline({{0, 0}, {10525, -10525}})};
    const std::string text = Export(Plot({piece}), HpglDialect::Hpgl2);
    EXPECT_NE(text.find("PE" + Bytes({'<', '=', 191, 191, 121, 71, 196, 122, 71, 196, '\n'}) + ";"),
              std::string::npos);
    // A piece without a pen-mode record draws with pen 1.
    EXPECT_NE(text.find("SP1;\nPE"), std::string::npos);
}

TEST(HpglExportTest, FollowOnRecordsJoinTheirLine)
{
    // A line split by the writer: the second record starts where the first ends.
    PlotFilePiece piece;
    piece.records = {Record(RecordType::PenMode), Polyline({{0, 0}, {10, 0}}),
                     Polyline({{10, 0}, {10, 10}}, true), Polyline({{20, 20}, {30, 20}})};
    const std::string text = Export(Plot({piece}), HpglDialect::Hpgl1);
    EXPECT_NE(text.find("PU0,0;\nPD10,0,10,10;\nPU20,20;\nPD30,20;\n"), std::string::npos) << text;
}

TEST(HpglExportTest, LabelsKeepOriginsOrGoLineByLine)
{
    // Turned a quarter: the centred block of "AB" and "C" (height 20) starts 20 units left of
    // the anchor along the text and its first baseline lies 10 below the anchor's line, the
    // second 30 further; turned, the lines begin at (110, 80) and (140, 80).
    const PlotFile plot = Plot({}, {Label("AB\r\nC", 100, 100, 20, 5, 0, 10000),
                                    Label("X", 7, 8, 20, 2, 0, 10000), Label("Y", 9, 9, 20, 5)});
    const std::string two = Export(plot, HpglDialect::Hpgl2);
    EXPECT_NE(two.find("SI0.0333,0.05;\nDI0,1;\nPU110,80;LBAB\x03\nPU140,80;LBC\x03\n"
                       "LO2;\nPU7,8;LBX\x03\nDI;\nLO5;\nPU9,9;LBY\x03\n"),
              std::string::npos)
        << two;
    // Plain HP-GL has no LO: the label code 2 line starts 10 units below the anchor's line
    // (turned: 10 to the right) and the code 5 line half its one character to the left.
    const std::string one = Export(plot, HpglDialect::Hpgl1);
    EXPECT_EQ(one.find("LO"), std::string::npos) << one;
    EXPECT_NE(one.find("PU17,8;LBX\x03\nDI;\nPU-1,-1;LBY\x03\n"), std::string::npos) << one;
}

TEST(HpglExportTest, DirectionsRoundBackToTheStoredPair)
{
    // Pairs an importer makes from angles: the written cosine and sine must name an angle
    // that rounds back to the same pair.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {9487, 3162}, {7071, 7071}, {-9949, -1005}, {1, 10000}, {9999, 141}, {-3, -4}})
    {
        const std::string text =
            Export(Plot({}, {Label("A", 0, 0, 10, 1, x, y)}), HpglDialect::Hpgl2);
        const std::size_t at = text.find("DI");
        ASSERT_NE(at, std::string::npos);
        double run = 0;
        double rise = 0;
        ASSERT_EQ(std::sscanf(text.c_str() + at, "DI%lf,%lf;", &run, &rise), 2) << text;
        const double angle = std::atan2(rise, run);
        if (std::abs(x) > 10 && std::abs(y) > 10)
        {
            EXPECT_EQ(std::llround(10000 * std::cos(angle)), x) << text;
            EXPECT_EQ(std::llround(10000 * std::sin(angle)), y) << text;
        }
        else
        {
            EXPECT_NEAR(angle, std::atan2(y, x), 1e-5) << text;
        }
    }
}

TEST(HpglExportTest, ControlBytesInLabelsAreLeftOut)
{
    const std::string text = Export(Plot({}, {Label("A\x01"
                                                    "B\x03\x7F"
                                                    "C\xE9",
                                                    0, 0, 10)}),
                                    HpglDialect::Hpgl2);
    EXPECT_NE(text.find("LBABC\xE9\x03\n"), std::string::npos) << text;
}

TEST(HpglExportTest, FailedWriteIsReported)
{
    for (long bytes : {0L, 5L, 40L})
    {
        StreamFaults faults;
        faults.writeBytesBeforeFailure = bytes;
        FailingStream stream(faults);
        EXPECT_FALSE(ExportHpgl(Drawing(), stream.file(), HpglDialect::Hpgl2)) << bytes;
        FailingStream plain(faults);
        EXPECT_FALSE(ExportHpgl(Drawing(), plain.file(), HpglDialect::Hpgl1)) << bytes;
    }
}
