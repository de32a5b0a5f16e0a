// The HP-GL importer acting as the library's host: strokes, pens, line types and widths,
// scaling, arcs and closed shapes, labels and their origins, and what it refuses.

#include "geometry/label.h"
#include "geometry/line_seg.h"
#include "geometry/perim.h"
#include "hpgl/import.h"
#include "plotinfo/plot_info.h"

#include <csignal>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace genplot::tool
{
namespace
{

using Points = std::vector<std::pair<long, long>>;

// What the import left in the plot, copied out so it outlives the plot.
struct Line
{
    Points points;
    int pen = 0;
    int type = 0;
    int width = 0;
};

struct Text
{
    std::string text;
    int justification = 0;
    int height = 0;
    int directionX = 0;
    int directionY = 0;
    long x = 0;
    long y = 0;
};

struct Piece
{
    Points outline;
    std::vector<Line> inside;
    long left = 0;
    long bottom = 0;
    long right = 0;
    long top = 0;
};

struct Imported
{
    std::vector<Line> lines; // loose lines
    std::vector<Piece> pieces;
    std::vector<Text> labels; // loose labels
    HpglImportReport report;
};

Line Copy(const CLineSeg& line)
{
    Line copy{{}, line.penNumber, line.lineType, line.lineWidth};
    for (POSITION p = line.GetHeadPosition(); p != nullptr;)
    {
        const CCoord* c = line.GetNextPoint(p);
        copy.points.emplace_back(c->x, c->y);
    }
    return copy;
}

Imported Import(const std::string& input, const HpglImportOptions& options = {})
{
    Imported result;
    CPlotInfo plot;
    ImportHpgl(input, plot, options, result.report);
    for (POSITION p = plot.looseLines.GetHeadPosition(); p != nullptr;)
        result.lines.push_back(Copy(*static_cast<const CLineSeg*>(plot.looseLines.GetNext(p))));
    for (POSITION p = plot.pieces.GetHeadPosition(); p != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(p));
        Piece copy{Copy(piece->outline).points, {},
                   piece->box.lowerLeft.x,      piece->box.lowerLeft.y,
                   piece->box.upperRight.x,     piece->box.upperRight.y};
        for (POSITION q = piece->nonPerimeterLines.GetHeadPosition(); q != nullptr;)
            copy.inside.push_back(
                Copy(*static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(q))));
        result.pieces.push_back(copy);
    }
    for (POSITION p = plot.looseLabels.GetHeadPosition(); p != nullptr;)
    {
        const auto* label = static_cast<const CLabel*>(plot.looseLabels.GetNext(p));
        result.labels.push_back({std::string(label->text.GetString(), label->text.GetLength()),
                                 label->justification, label->textHeight, label->directionX,
                                 label->directionY, label->position.x, label->position.y});
    }
    return result;
}

// One label expected: its copy.
Text OnlyLabel(const Imported& imported)
{
    EXPECT_EQ(imported.labels.size(), 1u);
    return imported.labels.empty() ? Text{} : imported.labels[0];
}

TEST(HpglImportTest, PenDownRunsBecomeStrokes)
{
    const Imported imported = Import("IN;SP1;PU0,0;PD100,0,100,100;PU;PD;PA200,200;PU;");
    const auto& lines = imported.lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].points, (Points{{0, 0}, {100, 0}, {100, 100}}));
    EXPECT_EQ(lines[1].points, (Points{{100, 100}, {200, 200}}));
    EXPECT_EQ(imported.report.strokes, 2u);
    EXPECT_EQ(imported.report.points, 5u);
}

TEST(HpglImportTest, RelativeMovesAndADot)
{
    const auto lines = Import("PU10,10;PR;PD5,0,0,5;PU;PA;PU30,30;PD;PU;").lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].points, (Points{{10, 10}, {15, 10}, {15, 15}}));
    // PD then PU leaves a dot where the pen touched the paper.
    EXPECT_EQ(lines[1].points, (Points{{30, 30}}));
}

TEST(HpglImportTest, PenSelectEndsTheStrokeAndStampsItsPen)
{
    const auto lines = Import("SP3;PU0,0;PD10,0;SP4;PD20,0;PU;").lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].pen, 3);
    EXPECT_EQ(lines[0].points, (Points{{0, 0}, {10, 0}}));
    EXPECT_EQ(lines[1].pen, 4);
    EXPECT_EQ(lines[1].points, (Points{{10, 0}, {20, 0}}));
}

TEST(HpglImportTest, NothingIsDrawnWithoutAPen)
{
    const Imported imported = Import("SP0;PU0,0;PD100,100;PU;LBAB\x03SP1;PD;PA5,5;PU;");
    const auto& lines = imported.lines;
    ASSERT_EQ(lines.size(), 1u);
    // The label moved the pen as the plotter does (two cells of the default 76-unit width).
    EXPECT_EQ(lines[0].points, (Points{{328, 100}, {5, 5}}));
    EXPECT_TRUE(imported.labels.empty());
    EXPECT_EQ(imported.report.noPenStrokes, 1u);
    EXPECT_EQ(imported.report.noPenLabels, 1u);
}

TEST(HpglImportTest, ClosedRunBecomesAPiece)
{
    const Imported imported = Import("PU0,0;PD100,0,100,100,0,100,0,0;PU;");
    EXPECT_TRUE(imported.lines.empty());
    ASSERT_EQ(imported.pieces.size(), 1u);
    EXPECT_EQ(imported.pieces[0].outline.size(), 5u);
}

TEST(HpglImportTest, ScalingMapsUserUnitsThroughP1P2)
{
    EXPECT_EQ(Import("IP0,0,1000,1000;SC0,10,0,10;PU1,1;PD2,2;PU;").lines.at(0).points,
              (Points{{100, 100}, {200, 200}}));
    // Without IP the default P1/P2 (603,521)-(10603,7721) apply.
    EXPECT_EQ(Import("SC0,100,0,72;PU0,0;PD100,72;").lines.at(0).points,
              (Points{{603, 521}, {10603, 7721}}));
    // Isotropic: one scale of 100; the spare 1000 in x is split half and half.
    EXPECT_EQ(Import("IP0,0,2000,1000;SC0,10,0,10,1;PU0,0;PD10,10;").lines.at(0).points,
              (Points{{500, 0}, {1500, 1000}}));
    // Point factor: 40 plotter units per user unit from P1.
    EXPECT_EQ(Import("IP100,100,200,200;SC0,40,0,40,2;PU1,1;PD2,2;").lines.at(0).points,
              (Points{{140, 140}, {180, 180}}));
    // Relative moves scale too; SC; turns scaling off.
    EXPECT_EQ(Import("IP0,0,1000,1000;SC0,10,0,10;PU1,1;PR;PD1,0;SC;PD5,0;").lines.at(0).points,
              (Points{{100, 100}, {200, 100}, {205, 100}}));
}

TEST(HpglImportTest, CoordinatesAreRoundedToNearestAfterScaling)
{
    // 10/3 = 3.33 and 20/3 = 6.67.
    EXPECT_EQ(Import("IP0,0,10,10;SC0,3,0,3;PU1,1;PD2,2;").lines.at(0).points,
              (Points{{3, 3}, {7, 7}}));
}

TEST(HpglImportTest, DefaultP1P2IsAnOption)
{
    HpglImportOptions options;
    options.p1x = 0;
    options.p1y = 0;
    options.p2x = 100;
    options.p2y = 100;
    EXPECT_EQ(Import("SC0,10,0,10;PU0,0;PD10,10;", options).lines.at(0).points,
              (Points{{0, 0}, {100, 100}}));
}

TEST(HpglImportTest, CircleClosesOnItsFirstPoint)
{
    const Imported imported = Import("PU500,500;CI100;PD500,600;PU;");
    const auto& pieces = imported.pieces;
    ASSERT_EQ(pieces.size(), 1u);
    const Points outline = pieces[0].outline;
    // The 0-degree point, 72 chords of 5 degrees, and the last point equal to the first.
    ASSERT_EQ(outline.size(), 73u);
    EXPECT_EQ(outline.front(), (std::pair<long, long>{600, 500}));
    EXPECT_EQ(outline.back(), outline.front());
    EXPECT_EQ(outline[18], (std::pair<long, long>{500, 600}));
    EXPECT_EQ(pieces[0].left, 400);
    EXPECT_EQ(pieces[0].top, 600);
    // The pen is back at the centre afterwards; the stroke from there lies in the circle.
    ASSERT_EQ(pieces[0].inside.size(), 1u);
    EXPECT_EQ(pieces[0].inside[0].points, (Points{{500, 500}, {500, 600}}));
}

TEST(HpglImportTest, RectanglesAreClosedOutlines)
{
    const Imported imported = Import("PU10,20;EA110,70;ER-10,-20;RR5,5;");
    const auto& pieces = imported.pieces;
    ASSERT_EQ(pieces.size(), 3u);
    // In size order: the 5 x 5, the 10 x 20, the 100 x 50.
    EXPECT_EQ(pieces[0].outline, (Points{{10, 20}, {15, 20}, {15, 25}, {10, 25}, {10, 20}}));
    EXPECT_EQ(pieces[1].outline, (Points{{10, 20}, {0, 20}, {0, 0}, {10, 0}, {10, 20}}));
    EXPECT_EQ(pieces[2].outline, (Points{{10, 20}, {110, 20}, {110, 70}, {10, 70}, {10, 20}}));
}

TEST(HpglImportTest, ArcsJoinTheStrokeOrMoveThePen)
{
    const Points quarter = Import("PU100,0;PD;AA0,0,90;PU;").lines.at(0).points;
    ASSERT_EQ(quarter.size(), 19u);
    EXPECT_EQ(quarter.front(), (std::pair<long, long>{100, 0}));
    EXPECT_EQ(quarter[9], (std::pair<long, long>{71, 71}));
    EXPECT_EQ(quarter.back(), (std::pair<long, long>{0, 100}));

    const Points clockwise = Import("PU100,0;PD;AR-100,0,-90,10;PU;").lines.at(0).points;
    ASSERT_EQ(clockwise.size(), 10u);
    EXPECT_EQ(clockwise.back(), (std::pair<long, long>{0, -100}));

    // With the pen up the arc only moves the pen to its end.
    EXPECT_EQ(Import("PU100,0;AA0,0,180;PD0,0;PU;").lines.at(0).points,
              (Points{{-100, 0}, {0, 0}}));
}

TEST(HpglImportTest, FullArcClosesIntoAPiece)
{
    // The last chord of a full turn lands on the start point itself.
    const Imported imported = Import("PU100,0;PD;AA0,0,360;PU;");
    EXPECT_TRUE(imported.lines.empty());
    ASSERT_EQ(imported.pieces.size(), 1u);
    EXPECT_EQ(imported.pieces[0].outline.size(), 73u);
    EXPECT_EQ(imported.pieces[0].outline.back(), (std::pair<long, long>{100, 0}));
}

TEST(HpglImportTest, ThreePointArcGoesThroughTheMiddlePoint)
{
    const Points half = Import("PU100,0;PD;AT0,100,-100,0;PU;").lines.at(0).points;
    ASSERT_EQ(half.size(), 37u);
    EXPECT_EQ(half[18], (std::pair<long, long>{0, 100}));
    EXPECT_EQ(half.back(), (std::pair<long, long>{-100, 0}));
}

TEST(HpglImportTest, WedgeIsClosedThroughItsCentre)
{
    const Imported imported = Import("PU0,0;EW100,0,90;");
    const auto& pieces = imported.pieces;
    ASSERT_EQ(pieces.size(), 1u);
    const Points outline = pieces[0].outline;
    ASSERT_EQ(outline.size(), 21u);
    EXPECT_EQ(outline[0], (std::pair<long, long>{0, 0}));
    EXPECT_EQ(outline[1], (std::pair<long, long>{100, 0}));
    EXPECT_EQ(outline[19], (std::pair<long, long>{0, 100}));
    EXPECT_EQ(outline[20], (std::pair<long, long>{0, 0}));
}

TEST(HpglImportTest, PolygonModeClosesSubpolygons)
{
    const Imported imported = Import("PM0;PU0,0;PD100,0,100,100;PM2;EP;");
    const auto& pieces = imported.pieces;
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].outline, (Points{{0, 0}, {100, 0}, {100, 100}, {0, 0}}));
}

TEST(HpglImportTest, LineTypesMapToSolidDottedAndDashed)
{
    const auto lines =
        Import("PU0,0;PD1,0;LT2;PD2,0;LT1;PD3,0;LT-1;PD4,0;LT;PD5,0;LT99;PD6,0;LT6,,1;PD7,0;PU;")
            .lines;
    std::vector<int> types;
    for (const Line& line : lines)
        types.push_back(line.type);
    EXPECT_EQ(types, (std::vector<int>{0, 2, 1, 0, 1, 2}));
    EXPECT_EQ(lines[2].points, (Points{{2, 0}, {3, 0}, {4, 0}}));
}

TEST(HpglImportTest, PenWidthsInMillimetresOrRelativeUnits)
{
    const auto lines =
        Import("SP1;PW1;PU0,0;PD10,0;SP2;PW0.5,2;PD20,0;SP1;PD30,0;WU1;PD40,0;PW1;PD50,0;PU;")
            .lines;
    std::vector<int> widths;
    for (const Line& line : lines)
        widths.push_back(line.width);
    // 1 mm = 40; 0.5 mm = 20; WU1 resets to 0.1% and PW1 is 1% of the P1-P2 diagonal 12322.
    EXPECT_EQ(widths, (std::vector<int>{40, 20, 40, 12, 123}));
    EXPECT_EQ(Import("PU0,0;PD1,0;").lines.at(0).width, 14); // the default 0.35 mm
}

TEST(HpglImportTest, EncodedPolylineMovesAndDraws)
{
    // Pen-up absolute to (3,3), then a relative draw by (3,3); the pen stays down after.
    const auto lines = Import("PU100,100;PE<=\xC5\xC5\xC5\xC5;PA10,10;PU;").lines;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].points, (Points{{3, 3}, {6, 6}, {10, 10}}));
}

TEST(HpglImportTest, EncodedPolylineWithAnOverlongNumberIsSkipped)
{
    // The second pair's x has a seventh digit: the whole PE command is dropped and reported,
    // and the commands after it run as usual.
    const Imported imported = Import("PU100,100;PE<=\xC5\xC5=??????\xC5\xC5;PA10,10;PD20,20;PU;");
    ASSERT_EQ(imported.lines.size(), 1u);
    EXPECT_EQ(imported.lines[0].points, (Points{{10, 10}, {20, 20}}));
    EXPECT_EQ(imported.report.damagedEncoded, 1u);
}

TEST(HpglImportTest, PageEndsStrokesAndBeginPlotResets)
{
    const auto lines = Import("SP2;PU0,0;PD10,0;PG;PD20,0;PU;").lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].points, (Points{{10, 0}, {20, 0}}));
    EXPECT_EQ(lines[1].pen, 2);
    EXPECT_EQ(Import("IP0,0,10,10;SC0,1,0,1;BP;PU5,5;PD6,6;PU;").lines.at(0).points,
              (Points{{5, 5}, {6, 6}}));
}

TEST(HpglImportTest, RotationTurnsTheOutput)
{
    const Imported imported = Import("RO90;PU100,0;PD200,0;PU;LBA\x03");
    EXPECT_EQ(imported.lines.at(0).points, (Points{{0, 100}, {0, 200}}));
    EXPECT_EQ(OnlyLabel(imported).directionX, 0);
    EXPECT_EQ(OnlyLabel(imported).directionY, 10000);
}

TEST(HpglImportTest, HugeCoordinatesAreClampedAndReported)
{
    const Imported imported = Import("PU99999999999,0;PD0,0;PU;");
    EXPECT_EQ(imported.lines.at(0).points, (Points{{kMaxCoordinate, 0}, {0, 0}}));
    EXPECT_EQ(imported.report.clampedCoordinates, 1u);
}

TEST(HpglImportTest, LabelTakesSizeDirectionAndPosition)
{
    const Imported imported = Import("SI0.2,0.3;PU1000,1000;LBAB\x03");
    const Text label = OnlyLabel(imported);
    EXPECT_EQ(label.text, "AB");
    EXPECT_EQ(label.height, 120);
    EXPECT_EQ(label.justification, 1);
    EXPECT_EQ(label.x, 1000);
    EXPECT_EQ(label.y, 1000);
    EXPECT_EQ(label.directionX, 10000);
    EXPECT_EQ(label.directionY, 0);
    // The default size is 0.19 x 0.27 cm.
    EXPECT_EQ(OnlyLabel(Import("LBA\x03")).height, 108);
    // Relative size: 1.5% of P2y - P1y = 7200.
    EXPECT_EQ(OnlyLabel(Import("SR1,1.5;LBA\x03")).height, 108);
}

TEST(HpglImportTest, LabelOriginsMapToJustificationCodes)
{
    struct Case
    {
        int origin;
        int code;
        long x;
        long y;
    };
    // h = 120, o = h/2 = 60, estimated length of "AB" L = 2 x 120.
    const Case cases[] = {
        {1, 1, 1000, 1000},  {2, 2, 1000, 1000},  {3, 1, 1000, 880},   {4, 5, 1000, 1060},
        {5, 5, 1000, 1000},  {6, 5, 1000, 940},   {7, 5, 880, 1060},   {8, 5, 880, 1000},
        {9, 5, 880, 940},    {11, 1, 1060, 1060}, {12, 2, 1060, 1000}, {13, 1, 1060, 820},
        {14, 5, 1000, 1120}, {15, 5, 1000, 1000}, {16, 5, 1000, 880},  {17, 5, 820, 1120},
        {18, 5, 820, 1000},  {19, 5, 820, 880},   {21, 1, 1000, 1000},
    };
    for (const Case& c : cases)
    {
        const Imported imported =
            Import("SI0.2,0.3;PU1000,1000;LO" + std::to_string(c.origin) + ";LBAB\x03");
        const Text label = OnlyLabel(imported);
        EXPECT_EQ(label.justification, c.code) << "LO" << c.origin;
        EXPECT_EQ(label.x, c.x) << "LO" << c.origin;
        EXPECT_EQ(label.y, c.y) << "LO" << c.origin;
        const bool right = c.origin % 10 >= 7;
        EXPECT_EQ(imported.report.rightAlignedLabels, right ? 1u : 0u) << "LO" << c.origin;
        EXPECT_EQ(imported.report.unsupportedOriginLabels, c.origin == 21 ? 1u : 0u);
    }
}

TEST(HpglImportTest, LabelOriginTurnsWithTheDirection)
{
    // Up is -x when the text runs along +y: LO3 hangs the label one height to the right.
    const Imported imported = Import("SI0.2,0.3;DI0,1;PU1000,1000;LO3;LBAB\x03LBC\x03");
    const auto& labels = imported.labels;
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0].directionX, 0);
    EXPECT_EQ(labels[0].directionY, 10000);
    EXPECT_EQ(labels[0].x, 1120);
    EXPECT_EQ(labels[0].y, 1000);
    // LO3 concatenates: the next label starts two cells further along +y.
    EXPECT_EQ(labels[1].x, 1120);
    EXPECT_EQ(labels[1].y, 1240);
    // DR is relative to P2 - P1 (10000 x 7200): DR1,1 runs at atan(72/100).
    const Text relative = OnlyLabel(Import("DR1,1;LBA\x03"));
    EXPECT_EQ(relative.directionX, 8115);
    EXPECT_EQ(relative.directionY, 5843);
}

TEST(HpglImportTest, EachLineOfALabelIsItsOwnLabel)
{
    const Imported imported = Import("SI0.2,0.3;PU1000,1000;LBAB\r\nCDE\x03LBF\x03");
    const auto& labels = imported.labels;
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[1].text, "CDE");
    EXPECT_EQ(labels[1].x, 1000);
    EXPECT_EQ(labels[1].y, 760);
    // The pen ends after "CDE", so the next label continues that line.
    EXPECT_EQ(labels[2].x, 1360);
    EXPECT_EQ(labels[2].y, 760);

    // Centred lines are each centred on their own start point; the pen goes back after.
    const auto centred = Import("SI0.2,0.3;PU1000,1000;LO5;LBAB\r\nCDE\x03LBF\x03").labels;
    ASSERT_EQ(centred.size(), 3u);
    EXPECT_EQ(centred[1].justification, 5);
    EXPECT_EQ(centred[1].y, 760);
    EXPECT_EQ(centred[2].x, 1000);
    EXPECT_EQ(centred[2].y, 1000);

    // A bare line feed goes down without returning.
    const auto bare = Import("SI0.2,0.3;PU1000,1000;LBAB\nC\x03").labels;
    ASSERT_EQ(bare.size(), 2u);
    EXPECT_EQ(bare[1].x, 1240);
    EXPECT_EQ(bare[1].y, 760);
}

TEST(HpglImportTest, CarriageReturnGoesBackToTheStartOfTheFirstLabel)
{
    const auto labels = Import("SI0.2,0.3;PU1000,1000;LBAB\x03LB\rCD\x03").labels;
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[1].x, 1000);
    EXPECT_EQ(labels[1].y, 1000);
}

TEST(HpglImportTest, LabelTextCleanUp)
{
    // A backspace removes itself and the character after it.
    EXPECT_EQ(OnlyLabel(Import("LB0\b/1\x03")).text, "01");
    EXPECT_EQ(OnlyLabel(Import("LB\bAB\x03")).text, "AB");
    EXPECT_EQ(OnlyLabel(Import("LBA\tB\x03")).text, "A       B");
    EXPECT_EQ(OnlyLabel(Import("LBA\x07\x1B\x0E"
                               "B\x03"))
                  .text,
              "AB");
    EXPECT_EQ(OnlyLabel(Import("DT#;LBAB#")).text, "AB");
    EXPECT_EQ(OnlyLabel(Import("DT#,0;LBAB#")).text, "AB#");
    // The next character after a backspace does not move the pen either.
    const auto labels = Import("SI0.2,0.3;PU1000,1000;LB0\b/\x03LBA\x03").labels;
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[1].x, 1120);
}

TEST(HpglImportTest, CharacterPlotMovesByCellsAndLines)
{
    EXPECT_EQ(OnlyLabel(Import("SI0.2,0.3;PU1000,1000;CP2,1;LBA\x03")).x, 1240);
    EXPECT_EQ(OnlyLabel(Import("SI0.2,0.3;PU1000,1000;CP2,1;LBA\x03")).y, 1240);
    const auto labels = Import("SI0.2,0.3;PU1000,1000;LBAB\x03"
                               "CP;LBC\x03")
                            .labels;
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[1].x, 1000);
    EXPECT_EQ(labels[1].y, 760);
}

TEST(HpglImportTest, UnimplementedCommandsAreCounted)
{
    const Imported imported = Import("IN;ZZ1;ZZ;VS10;OI;CO\"x\";PU;SM*;SM;");
    const std::map<std::string, std::size_t> expected{{"SM", 1}, {"VS", 1}, {"ZZ", 2}};
    EXPECT_EQ(imported.report.notImplemented, expected);
    EXPECT_EQ(imported.report.commands, 9u);
    const std::vector<std::string> notes = imported.report.Notes();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0], "skipped 4 commands not implemented: SM (1), VS (1), ZZ (2)");
}

TEST(HpglImportTest, RefusesInputThatIsNotHpgl)
{
    const auto refused = [](const std::string& input, const std::string& reason) {
        CPlotInfo plot;
        HpglImportReport report;
        try
        {
            ImportHpgl(input, plot, {}, report);
            ADD_FAILURE() << "accepted: " << reason;
        }
        catch (const HpglInputError& error)
        {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
        EXPECT_TRUE(plot.looseLines.IsEmpty());
    };
    refused("", "empty");
    refused(" ;\r\n;", "empty");
    refused(std::string(64, '\0'), "empty");
    std::string binary;
    for (int i = 0; i < 1024; ++i)
        binary += static_cast<char>((i * 37) & 0xFF);
    refused(binary, "binary");
    refused("Hello world, this is text", "not HP-GL");
    refused("12345, 678;", "no HP-GL command");
}

TEST(HpglImportTest, StrayBytesDoNotMakeAFileBinary)
{
    const std::string file = std::string("\x03IN;PU0,0;PD10,10;PU;") + std::string(3, '\0') + "\f";
    EXPECT_EQ(Import(file).lines.size(), 1u);
}

TEST(HpglImportTest, PointBudgetCountsThickeningStrokes)
{
    HpglImportOptions options;
    options.maxPoints = 100;
    EXPECT_THROW(Import("PU0,0;CI100;CI100;", options), HpglInputError);
    // 10 mm = 400 units: two pairs of strokes, so each point costs five.
    options.maxPoints = 10;
    EXPECT_NO_THROW(Import("PW10;PU0,0;PD1,0;", options));
    EXPECT_THROW(Import("PW10;PU0,0;PD1,0,2,0;", options), HpglInputError);
}

TEST(HpglImportTest, TooManyLabelsAreRefused)
{
    std::string input;
    for (std::size_t i = 0; i <= kMaxLabels; ++i)
        input += "LBx\x03";
    EXPECT_THROW(Import(input), HpglInputError);
}

TEST(HpglImportTest, InterruptStopsTheImport)
{
    std::string input;
    for (int i = 0; i < 5000; ++i)
        input += "PU0,0;";
    const volatile std::sig_atomic_t interrupted = 1;
    HpglImportOptions options;
    options.interrupt = &interrupted;
    EXPECT_THROW(Import(input, options), HpglInterrupted);
}

} // namespace
} // namespace genplot::tool
