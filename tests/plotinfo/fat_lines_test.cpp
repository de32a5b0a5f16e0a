// Thickening wide lines: the stroke coordinates, the joins, the order the strokes take in
// their piece, and the miter threshold read from the registry.

#include "plot_test_helpers.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using namespace plot_test;

namespace
{

constexpr long kMax = std::numeric_limits<std::int32_t>::max();

class FatLinesTest : public ::testing::Test
{
  protected:
    // The strokes OffsetLineSegs makes for one line, in stroke-list order.
    std::vector<Points> Thicken(const Points& points, int width, int geometryType = 0)
    {
        CLineSeg* line = NewLine(points, width);
        line->geometryType = geometryType;
        CObList strokes(10);
        PlotInfoTestAccess::OffsetLineSegs(plot_, strokes, line);
        std::vector<Points> result;
        while (!strokes.IsEmpty())
        {
            auto* stroke = static_cast<CLineSeg*>(strokes.RemoveHead());
            EXPECT_EQ(stroke->lineWidth, 0);
            EXPECT_EQ(stroke->lineType, 0);
            EXPECT_EQ(stroke->geometryType, 0);
            result.push_back(PointsOf(*stroke));
            delete stroke;
        }
        EXPECT_EQ(PointsOf(*line), points) << "the thickened line itself never changes";
        delete line;
        return result;
    }

    ScopedRegistry registry_;
    CPlotInfo plot_;
};

// One piece whose outline (width `outlineWidth`) is a 10000-unit square, holding `lines`.
CPerim* PieceWithLines(CPlotInfo& plot, int outlineWidth, std::vector<CLineSeg*> lines)
{
    plot.SetLineWidth(outlineWidth);
    Stroke(plot, {{0, 0}, {10000, 0}, {10000, 10000}, {0, 0}});
    plot.SetLineWidth(0);
    CPerim* piece = PieceAt(plot, 0);
    for (CLineSeg* line : lines)
        piece->nonPerimeterLines.AddTail(line);
    return piece;
}

} // namespace

TEST_F(FatLinesTest, OnlyLinesWiderThanTheSpacingWithRoomForAPairAreThickened)
{
    const Points line = {{0, 0}, {1000, 0}};
    EXPECT_TRUE(Thicken(line, 100).empty());
    EXPECT_TRUE(Thicken(line, 101).empty()); // half 50 leaves no room past the inset
    EXPECT_EQ(Thicken(line, 102),
              (std::vector<Points>{{{0, -1}, {1000, -1}}, {{0, 1}, {1000, 1}}}));
}

TEST_F(FatLinesTest, StraightLinePairsSitAtMultiplesOfTheSpacingUpToTheInset)
{
    const Points line = {{0, 0}, {1000, 0}};
    const std::vector<Points> onePair = {{{0, -100}, {1000, -100}}, {{0, 100}, {1000, 100}}};
    EXPECT_EQ(Thicken(line, 300), onePair);
    EXPECT_EQ(Thicken(line, 301), onePair);

    std::vector<Points> three = Thicken(line, 520);
    ASSERT_EQ(three.size(), 6u);
    const long ys[] = {-100, 100, -200, 200, -210, 210};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(three[i], (Points{{0, ys[i]}, {1000, ys[i]}})) << i;
}

TEST_F(FatLinesTest, RightAngleIsBevelled)
{
    EXPECT_EQ(Thicken({{0, 0}, {1000, 0}, {1000, 1000}}, 300),
              (std::vector<Points>{{{0, -100}, {1000, -100}, {1100, 0}, {1100, 1000}},
                                   {{0, 100}, {1000, 100}, {900, 0}, {900, 1000}}}));
}

TEST_F(FatLinesTest, StraightVertexIsMitredAlongTheNormal)
{
    EXPECT_EQ(Thicken({{0, 0}, {1000, 0}, {2000, 0}}, 300),
              (std::vector<Points>{{{0, -100}, {1000, -100}, {2000, -100}},
                                   {{0, 100}, {1000, 100}, {2000, 100}}}));
}

TEST_F(FatLinesTest, ReversalIsBevelled)
{
    EXPECT_EQ(Thicken({{0, 0}, {1000, 0}, {0, 0}}, 300),
              (std::vector<Points>{{{0, -100}, {1000, -100}, {1000, 100}, {0, 100}},
                                   {{0, 100}, {1000, 100}, {1000, -100}, {0, -100}}}));
}

TEST_F(FatLinesTest, DiagonalOffsetsTruncateTowardZero)
{
    // ±70.71 in each coordinate.
    EXPECT_EQ(Thicken({{0, 0}, {1000, 1000}}, 300),
              (std::vector<Points>{{{70, -70}, {1070, 929}}, {{-70, 70}, {929, 1070}}}));
}

TEST_F(FatLinesTest, MitredPointIsTruncatedExactlyAsTheArithmeticFalls)
{
    // A clockwise turn of 56 degrees after a segment along the x axis. The miter points lie on
    // y = -100 and y = 100, but the written-order arithmetic lands at 99.99999999999999 and
    // truncation gives 99. The end points are plain offsets along the last normal,
    // 100 * (0.83205, 0.55470).
    EXPECT_EQ(Thicken({{0, 0}, {1000, 0}, {1010, -15}}, 300),
              (std::vector<Points>{{{0, -100}, {946, -99}, {926, -70}},
                                   {{0, 100}, {1053, 99}, {1093, 40}}}));
}

TEST_F(FatLinesTest, NearlyStraightVertexRoundingAboveOneStillMitres)
{
    // Both segments run along (1, 8); normalising them gives a cosine of 1 + 2^-52. Offsets are
    // 100 * (-8, 1) / sqrt(65) = (-99.228, 12.403).
    EXPECT_EQ(Thicken({{0, 0}, {100, 800}, {200, 1600}}, 300),
              (std::vector<Points>{{{99, -12}, {199, 787}, {299, 1587}},
                                   {{-99, 12}, {0, 812}, {100, 1612}}}));
}

TEST_F(FatLinesTest, MiterPointsLieOnBothOffsetLinesWhicheverWayTheLineTurns)
{
    for (long turn : {3000L, -3000L})
    {
        SCOPED_TRACE(turn > 0 ? "counter-clockwise" : "clockwise");
        const Points line = {{0, 0}, {10000, 0}, {20000, turn}};
        std::vector<Points> strokes = Thicken(line, 520);
        ASSERT_EQ(strokes.size(), 6u);
        double length = std::sqrt(10000.0 * 10000.0 + double(turn) * turn);
        double n1x = -turn / length;
        double n1y = 10000.0 / length;
        const double distances[] = {100, 200, 210};
        for (int k = 0; k < 6; ++k)
        {
            ASSERT_EQ(strokes[k].size(), 3u) << k;
            double side = k % 2 == 0 ? -1.0 : 1.0;
            double expected = side * distances[k / 2];
            double qx = strokes[k][1].first - 10000.0;
            double qy = strokes[k][1].second;
            // Signed distances from the lines of the segments entering and leaving the vertex.
            EXPECT_NEAR(qy, expected, 1.0) << k;
            EXPECT_NEAR(qx * n1x + qy * n1y, expected, 1.0) << k;
        }
    }
}

TEST_F(FatLinesTest, RepeatedPointsCountAsOneVertex)
{
    EXPECT_EQ(Thicken({{0, 0}, {0, 0}, {1000, 0}, {1000, 0}, {1000, 1000}, {1000, 1000}}, 300),
              (std::vector<Points>{{{0, -100}, {1000, -100}, {1100, 0}, {1100, 1000}},
                                   {{0, 100}, {1000, 100}, {900, 0}, {900, 1000}}}));
}

TEST_F(FatLinesTest, LinesWithoutDirectionOrWithAGeometryTypeGetNoStrokes)
{
    EXPECT_TRUE(Thicken({{5, 5}}, 1000).empty());
    EXPECT_TRUE(Thicken({{5, 5}, {5, 5}, {5, 5}}, 1000).empty());
    EXPECT_TRUE(Thicken({}, 1000).empty());
    EXPECT_TRUE(Thicken({{0, 0}, {1000, 0}}, 1000, 1).empty());
}

TEST_F(FatLinesTest, OffsetsBeyondTheCoordinateRangeSaturate)
{
    EXPECT_EQ(
        Thicken({{kMax - 50, 0}, {kMax - 50, 1000}}, 300),
        (std::vector<Points>{{{kMax, 0}, {kMax, 1000}}, {{kMax - 150, 0}, {kMax - 150, 1000}}}));
}

TEST_F(FatLinesTest, ANonPositiveSpacingThickensNothing)
{
    plot_.fatLineSpacing = 0;
    EXPECT_TRUE(Thicken({{0, 0}, {1000, 0}}, 300).empty());
    plot_.fatLineSpacing = -100;
    EXPECT_TRUE(Thicken({{0, 0}, {1000, 0}}, 300).empty());
}

TEST_F(FatLinesTest, StrokesCarryThePlotPenAndLandAtTheHeadOutlineFirst)
{
    CLineSeg* a = NewLine({{100, 100}, {1100, 100}}, 300);
    CLineSeg* b = NewLine({{100, 500}, {1100, 500}}, 300);
    a->penNumber = 2;
    b->penNumber = 3;
    CPerim* piece = PieceWithLines(plot_, 300, {a, b});
    plot_.currentPen = 8;
    plot_.FinalizePlotInfo();

    ASSERT_EQ(piece->nonPerimeterLines.GetCount(), 8);
    // O+, O-, B+, B-, A+, A-, A, B.
    const Points expected[] = {
        // The outline turns a right angle at (10000, 0) and 135 degrees at (10000, 10000):
        // both bevelled; its last segment runs back to the origin along (-1, -1).
        {{0, 100}, {10000, 100}, {9900, 0}, {9900, 10000}, {10070, 9929}, {70, -70}},
        {{0, -100}, {10000, -100}, {10100, 0}, {10100, 10000}, {9929, 10070}, {-70, 70}},
        {{100, 600}, {1100, 600}},
        {{100, 400}, {1100, 400}},
        {{100, 200}, {1100, 200}},
        {{100, 0}, {1100, 0}},
    };
    for (int i = 0; i < 6; ++i)
    {
        CLineSeg* stroke = LineAt(piece->nonPerimeterLines, i);
        EXPECT_EQ(PointsOf(*stroke), expected[i]) << i;
        EXPECT_EQ(stroke->penNumber, 8) << i;
    }
    EXPECT_EQ(LineAt(piece->nonPerimeterLines, 6), a);
    EXPECT_EQ(LineAt(piece->nonPerimeterLines, 7), b);
}

TEST_F(FatLinesTest, PieceWithoutWideLinesIsLeftAlone)
{
    CLineSeg* narrow = NewLine({{100, 100}, {1100, 100}}, 100);
    CPerim* piece = PieceWithLines(plot_, 0, {narrow});
    plot_.FinalizePlotInfo();
    ASSERT_EQ(piece->nonPerimeterLines.GetCount(), 1);
    EXPECT_EQ(LineAt(piece->nonPerimeterLines, 0), narrow);
}

TEST_F(FatLinesTest, LineWithoutDirectionDoesNotStopThePass)
{
    CLineSeg* dot = NewLine({{100, 100}}, 1000);
    CLineSeg* wide = NewLine({{100, 500}, {1100, 500}}, 300);
    CPerim* piece = PieceWithLines(plot_, 0, {dot, wide});
    plot_.FinalizePlotInfo();
    EXPECT_EQ(piece->nonPerimeterLines.GetCount(), 4);
}

TEST_F(FatLinesTest, EachFinalisationAddsAnotherSetOfStrokes)
{
    CPerim* piece = PieceWithLines(plot_, 0, {NewLine({{100, 100}, {1100, 100}}, 520)});
    plot_.FinalizePlotInfo();
    EXPECT_EQ(piece->nonPerimeterLines.GetCount(), 7);
    plot_.FinalizePlotInfo();
    EXPECT_EQ(piece->nonPerimeterLines.GetCount(), 13);
}

namespace
{

// Finalises a piece holding a gentle turn (cosine 0.995) and a turn of 70 degrees (cosine
// 0.342) with the given registry, and returns the point counts of their first strokes.
struct JoinResult
{
    double miterCosine;
    int gentlePoints;
    int sharpPoints;
};

JoinResult FinaliseWithRegistry(const std::string& registryText)
{
    ScopedRegistry registry(registryText);
    CPlotInfo plot;
    plot.miterCosine = 7.0; // reset by every pass
    CLineSeg* gentle = NewLine({{0, 0}, {1000, 0}, {2000, 100}}, 300);
    CLineSeg* sharp = NewLine({{0, 5000}, {1000, 5000}, {1342, 5940}}, 300);
    CPerim* piece = PieceWithLines(plot, 0, {gentle, sharp});
    plot.FinalizePlotInfo();
    // Strokes of the later line stand first: sharp+, sharp-, gentle+, gentle-.
    EXPECT_EQ(piece->nonPerimeterLines.GetCount(), 6);
    JoinResult result;
    result.miterCosine = plot.miterCosine;
    result.sharpPoints = LineAt(piece->nonPerimeterLines, 0)->GetPointCount();
    result.gentlePoints = LineAt(piece->nonPerimeterLines, 2)->GetPointCount();
    return result;
}

} // namespace

TEST(MiterLimitTest, WithoutAValueGentleTurnsAreMitredAndSharpOnesBevelled)
{
    for (const char* text :
         {"", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n"
              "\"MiterLimit\"=\"3\"\r\n"})
    {
        JoinResult result = FinaliseWithRegistry(text);
        EXPECT_EQ(result.miterCosine, -0.5);
        EXPECT_EQ(result.gentlePoints, 3);
        EXPECT_EQ(result.sharpPoints, 4);
    }
}

TEST(MiterLimitTest, ZeroMitresEveryTurnBelowARightAngle)
{
    for (const char* value :
         {"\"MiterLimit\"=\"0\"", "\"MiterLimit\"=\"abc\"", "\"miterlimit\"=\"  +0\""})
    {
        SCOPED_TRACE(value);
        JoinResult result = FinaliseWithRegistry(GeneralSection(value));
        EXPECT_EQ(result.miterCosine, 0.0);
        EXPECT_EQ(result.gentlePoints, 3);
        EXPECT_EQ(result.sharpPoints, 3);
    }
}

TEST(MiterLimitTest, ZeroStillBevelsARightAngle)
{
    ScopedRegistry registry(GeneralSection("\"MiterLimit\"=\"0\""));
    CPlotInfo plot;
    CPerim* piece = PieceWithLines(plot, 0, {NewLine({{0, 0}, {1000, 0}, {1000, 1000}}, 300)});
    plot.FinalizePlotInfo();
    EXPECT_EQ(PointsOf(*LineAt(piece->nonPerimeterLines, 1)),
              (Points{{0, -100}, {1000, -100}, {1100, 0}, {1100, 1000}}));
}

TEST(MiterLimitTest, MagnitudeTwoOrMoreBevelsEveryVertex)
{
    for (const char* value : {"\"MiterLimit\"=\"-3\"", "\"MiterLimit\"=\"2\"",
                              "\"MiterLimit\"=\"99999999999999999999999\""})
    {
        SCOPED_TRACE(value);
        JoinResult result = FinaliseWithRegistry(GeneralSection(value));
        EXPECT_LE(result.miterCosine, -2.0);
        EXPECT_EQ(result.gentlePoints, 4);
        EXPECT_EQ(result.sharpPoints, 4);
    }
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection("\"MiterLimit\"=\"-3\"")).miterCosine, -3.0);
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection("\"MiterLimit\"=\" 12xyz\"")).miterCosine, -12.0);
}

TEST(MiterLimitTest, ValueBytesAreReadAsTextWhateverTheirType)
{
    // dword 0x33 is stored as the bytes 33 00 00 00: the text "3".
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection("\"MiterLimit\"=dword:00000033")).miterCosine,
              -3.0);
    // dword 2 is the byte 02 followed by NULs: no digits, so 0.
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection("\"MiterLimit\"=dword:00000002")).miterCosine,
              0.0);
    // Binary bytes "-4" with no NUL at all.
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection("\"MiterLimit\"=hex:2d,34")).miterCosine, -4.0);
}

TEST(MiterLimitTest, MissingSectionOrOversizedValueKeepsTheDefault)
{
    EXPECT_EQ(FinaliseWithRegistry("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Other\\"
                                   "General]\r\n\"MiterLimit\"=\"0\"\r\n")
                  .miterCosine,
              -0.5);
    // 256 bytes with the NUL fit; 257 do not, and such a value counts as missing.
    std::string fits = "\"MiterLimit\"=\"1" + std::string(254, ' ') + "\"";
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection(fits)).miterCosine, -1.0);
    std::string tooLong = "\"MiterLimit\"=\"1" + std::string(255, ' ') + "\"";
    EXPECT_EQ(FinaliseWithRegistry(GeneralSection(tooLong)).miterCosine, -0.5);
}
