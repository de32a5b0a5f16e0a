// The exported plotter program read back by our own importer gives the same plot file, byte
// for byte: the drawings below are built so that the order in which the importer meets the
// strokes and labels decides where they land (lines drawn before the piece that holds them
// closed, lines that meet no piece, labels that can reach a piece only through an earlier
// label's growth), and a few hundred generated drawings mix all of it. Each conversion runs
// in this process, as `genplot convert` does it.

#include "genplot/gen_plot.h"
#include "genplot/plot_file_reader.h"
#include "geometry/label.h"
#include "hpgl/import.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "render/hpgl_export.h"

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

std::string ReadAll(std::FILE* file)
{
    std::string bytes;
    std::rewind(file);
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;)
    {
        bytes.append(block, got);
    }
    std::fclose(file);
    return bytes;
}

// The plot file of a drawing, made as the program's convert command makes it: the labels'
// most common height is the plot's default.
std::string Convert(const std::string& hpgl)
{
    CPlotInfo plot;
    genplot::tool::HpglImportOptions options;
    genplot::tool::HpglImportReport report;
    genplot::tool::ImportHpgl(hpgl, plot, options, report);
    std::map<int, int> heights;
    for (POSITION at = plot.looseLabels.GetHeadPosition(); at != nullptr;)
    {
        ++heights[static_cast<const CLabel*>(plot.looseLabels.GetNext(at))->textHeight];
    }
    int textHeight = 108;
    int most = 0;
    for (const auto& [height, count] : heights)
    {
        if (count > most)
        {
            textHeight = height;
            most = count;
        }
    }
    CPlotConfig config;
    config.configValue6 = textHeight;
    plot.Initialize(config, 0.0, 0.0, 0.0, textHeight);
    plot.FinalizePlotInfo();
    CGenPlot writer;
    writer.Initialize("drawing.plt", &config);
    std::FILE* file = std::tmpfile();
    int cancel = 0;
    EXPECT_EQ(writer.write_plot_file(file, &plot, &config, nullptr, &cancel, nullptr), 1);
    return ReadAll(file);
}

std::string Export(const std::string& plotFile)
{
    const genplot::PlotFile plot = genplot::ReadPlotFile(
        reinterpret_cast<const std::uint8_t*>(plotFile.data()), plotFile.size());
    EXPECT_EQ(plot.status, genplot::PlotFileStatus::Valid) << plot.problem;
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(genplot::render::ExportHpgl(plot, file, genplot::render::HpglDialect::Hpgl2));
    return ReadAll(file);
}

// Converting the export of the drawing's plot file gives that plot file again.
::testing::AssertionResult ComesBack(const std::string& hpgl)
{
    const std::string first = Convert(hpgl);
    const std::string exported = Export(first);
    const std::string second = Convert(exported);
    if (first == second)
    {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "drawing:\n" << hpgl << "\nexported:\n" << exported;
}

std::string Square(int x, int y, int size)
{
    const std::string a = std::to_string(x) + "," + std::to_string(y);
    return "PU" + a + ";PD" + std::to_string(x + size) + "," + std::to_string(y) + "," +
           std::to_string(x + size) + "," + std::to_string(y + size) + "," + std::to_string(x) +
           "," + std::to_string(y + size) + "," + a + ";PU;";
}

} // namespace

TEST(ExportRoundTripTest, LineDrawnBeforeTheSmallerPieceClosedStaysInTheLarger)
{
    // The line ends while only the large square exists, which takes it; the small square
    // that also holds it closes later and stands first.
    EXPECT_TRUE(ComesBack("IN;SP1;" + Square(0, 0, 10000) + "PU100,100;PD900,900;PU;" +
                          Square(0, 0, 1000)));
}

TEST(ExportRoundTripTest, LinesPlacedWhenFinishedKeepTheirOrderBehindRoutedOnes)
{
    // Loose until the plot is finished: a line far from every piece (placed by distance)
    // before a line inside the square drawn before the square closed; then a line routed
    // when it ended. The square's list is routed, far, inside.
    EXPECT_TRUE(ComesBack("IN;SP1;PU50000,50000;PD51000,50000;PU;PU200,200;PD300,300;PU;" +
                          Square(0, 0, 1000) + "PU400,400;PD500,500;PU;"));
}

TEST(ExportRoundTripTest, LabelReachingAPieceThroughAnEarlierLabelsGrowth)
{
    // The first label grows the left square's box over the second's anchor, which therefore
    // goes to the left square too; written in file order after the first, it would.
    // Labels written the other way round would send the second to the right square.
    EXPECT_TRUE(ComesBack("IN;SP1;" + Square(0, 0, 1000) + Square(2000, 0, 1000) +
                          "SI1,1;PU2500,500;LBRIGHT\x03;PU500,500;LBLONG LEFT LABEL\x03;"));
    // The other way: the right square's label comes first in the file, but the left one's
    // growth would take it, so the left label must be written after it.
    EXPECT_TRUE(ComesBack("IN;SP1;" + Square(0, 0, 1000) + Square(2000, 0, 1000) +
                          "SI1,1;PU500,500;LBLONG LEFT LABEL\x03;PU2500,500;LBRIGHT\x03;"));
}

TEST(ExportRoundTripTest, ThickenedLinesComeBackWithTheirStrokes)
{
    // Wide lines and a wide outline: their strokes reach outside the piece's box, and the
    // outline's own strokes would close into pieces of their own if drawn as lines.
    const std::string hpgl = "IN;SP1;PW3;" + Square(0, 0, 1000) + "PU0,0;PD1000,1000;PU;PW0.35;" +
                             Square(500, 500, 300) + "PW3;PU3000,3000;CI124;";
    EXPECT_TRUE(ComesBack(hpgl));
    // They go out as the pen width that makes the same strokes (120 plot units).
    const std::string exported = Export(Convert(hpgl));
    EXPECT_NE(exported.find("PW3.000;"), std::string::npos) << exported;
}

// An open zigzag stroke of `count` points inside the box (x, y)-(x + 1000, y + 1000).
std::string LongStroke(int x, int y, int count)
{
    std::string hpgl = "PU" + std::to_string(x) + "," + std::to_string(y) + ";PD";
    for (int i = 1; i < count; ++i)
    {
        hpgl += (i == 1 ? "" : ",") + std::to_string(x + (i * 7) % 1000) + "," +
                std::to_string(y + (i % 2) * 1000);
    }
    return hpgl + ";PU;";
}

TEST(ExportRoundTripTest, LongStrokesComeBackInTheirChunks)
{
    // A stroke is stored in chunks of up to 6001 points that share their joining segment,
    // and a line of 6001 points is cut again when it is stored.
    for (const int count : {6000, 6001, 6002, 12000, 12001, 13000})
    {
        // Routed when it ends: its chunks go into the square together.
        EXPECT_TRUE(ComesBack("IN;SP1;" + Square(0, 0, 2000) + LongStroke(500, 500, count)))
            << count;
        // Loose until the plot is finished: each chunk is placed on its own.
        EXPECT_TRUE(ComesBack("IN;SP1;" + LongStroke(500, 500, count) + Square(0, 0, 2000)))
            << count;
    }
    // Each chunk of a wide stroke is thickened on its own.
    EXPECT_TRUE(ComesBack("IN;SP1;" + Square(0, 0, 2000) + "PW3;" + LongStroke(500, 500, 6001)));
    EXPECT_TRUE(
        ComesBack("IN;SP1;PW3;" + LongStroke(500, 500, 12001) + "PW;" + Square(0, 0, 2000)));
}

// A random drawing: open and closed strokes, circles, rectangles, wide lines that the
// fat-line pass thickens, pen and line-type changes, and labels of every origin, size and
// direction, all within a small field so that they meet one another often.
std::string GeneratedDrawing(std::mt19937& random)
{
    const auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto point = [&pick] {
        return std::to_string(pick(0, 20000)) + "," + std::to_string(pick(0, 20000));
    };
    std::string hpgl = "IN;";
    const int items = pick(1, 16);
    for (int i = 0; i < items; ++i)
    {
        switch (pick(0, 9))
        {
        case 0:
            hpgl += "SP" + std::to_string(pick(1, 4)) + ";";
            break;
        case 1: {
            const char* types[] = {"LT;", "LT2;", "LT1;", "LT4,2;"};
            hpgl += types[pick(0, 3)];
            break;
        }
        case 2:
            hpgl += pick(0, 3) == 0 ? "PW3;" : "PW0.35;";
            break;
        case 3: {
            const std::string start = point();
            hpgl += "PU" + start + ";PD";
            const int points = pick(2, 6);
            for (int p = 0; p < points; ++p)
            {
                hpgl += (p == 0 ? "" : ",") + point();
            }
            hpgl += "," + start + ";PU;"; // closed
            break;
        }
        case 4:
            hpgl += "PU" + point() + ";CI" + std::to_string(pick(50, 3000)) + ";";
            break;
        case 5:
            hpgl += "PU" + point() + ";EA" + point() + ";";
            break;
        case 6:
        case 7: {
            const int sizes[][2] = {{19, 27}, {50, 70}, {25, 35}, {13, 20}, {100, 150}};
            const auto& size = sizes[pick(0, 4)];
            const int origins[] = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
            hpgl += "SI" + std::to_string(size[0] / 100.0).substr(0, 4) + "," +
                    std::to_string(size[1] / 100.0).substr(0, 4) + ";";
            hpgl += pick(0, 2) == 0 ? "DI;"
                                    : "DI" + std::to_string(pick(-100, 100)) + "," +
                                          std::to_string(pick(-100, 100)) + ";";
            hpgl += "LO" + std::to_string(origins[pick(0, 11)]) + ";PU" + point() + ";LB";
            const int length = pick(1, 12);
            for (int c = 0; c < length; ++c)
            {
                hpgl += static_cast<char>(pick(0, 3) == 0 ? ' ' + pick(1, 94) : 'A' + pick(0, 25));
            }
            hpgl += "\x03;";
            break;
        }
        default: {
            hpgl += "PU" + point() + ";PD";
            const int points = pick(1, 8);
            for (int p = 0; p < points; ++p)
            {
                hpgl += (p == 0 ? "" : ",") + point();
            }
            hpgl += ";PU;";
            break;
        }
        }
    }
    return hpgl + "SP0;";
}

TEST(ExportRoundTripTest, GeneratedDrawingsComeBackByteForByte)
{
    std::mt19937 random(20261208);
    int failures = 0;
    for (int i = 0; i < 400 && failures < 3; ++i)
    {
        const std::string hpgl = GeneratedDrawing(random);
        const ::testing::AssertionResult back = ComesBack(hpgl);
        EXPECT_TRUE(back) << "drawing " << i;
        failures += back ? 0 : 1;
    }
}
