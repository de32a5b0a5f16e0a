// Drawing a plot file straight from disk, piece by piece: the pictures are the ones drawing the
// loaded file gives, byte for byte, and a file that changes between the readings is refused.

#include "genplot/plot_file_reader.h"
#include "render/render.h"
#include "support/byte_builder.h"
#include "support/test_folder.h"
#include "support/writer_fixtures.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using genplot::render::Format;
using genplot::render::RenderOptions;
using genplot::render::RenderOutcome;

namespace
{

using Bytes = std::vector<std::uint8_t>;

// Two pieces and a label. The second piece's line reaches (farX, -300), well outside the
// header's extents (0,0)-(100,100), so the page depends on the points themselves.
Bytes Plot(std::int32_t farX, const std::string& label)
{
    ByteBuilder first;
    first.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    first.Record(0x0301, 44).U16(0x0100).U16(4);
    first.Point(0, 0).Point(100, 0).Point(100, 100).Point(0, 0);
    first.Record(0x0401, 0).Record(0x0410, 1).U8(2);
    first.Record(0x0301, 24).U16(0x0100).U16(2).Point(10, 10).Point(90, 60);
    first.Record(0x03FF, 0);
    ByteBuilder second;
    second.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    second.Record(0x0301, 44).U16(0x0100).U16(4);
    second.Point(20, 20).Point(80, 20).Point(50, 80).Point(20, 20);
    second.Record(0x0301, 34).U16(0x0100).U16(3).Point(50, 50).Point(farX, -300).Point(60, 40);
    second.Record(0x03FF, 0);
    const std::size_t start = 152 + 4 + 40;
    const std::size_t labels = start + first.size() + second.size();

    ExpectedHeader h = SampleHeader();
    h.pieceCount = 2;
    h.looseAnnotationCount = 1;
    h.looseAnnotationOffset = static_cast<std::int32_t>(labels);
    ByteBuilder out;
    AppendHeaderRecord(out, h);
    out.Record(0x01FF, 0).Record(0x02FF, 0);
    out.Record(0x0300, 40);
    out.I32(0).I32(0).I32(100).I32(100).I32(static_cast<std::int32_t>(start));
    out.I32(0).I32(-300).I32(farX).I32(100);
    out.I32(static_cast<std::int32_t>(start + first.size()));
    out.Append(first.bytes()).Append(second.bytes());
    const auto length = static_cast<std::uint16_t>(label.size());
    out.Record(0x0500, static_cast<std::uint16_t>(30 + length)).U16(length).U8(0).U8(0).U8(0);
    out.U8(1).I32(5).I32(-5).I32(5 + 10 * length).I32(10).I32(5).I32(0).Text(label);
    out.Record(0xFFFF, 0);
    return out.bytes();
}

class StreamRenderTest : public ::testing::Test
{
  protected:
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (folder_.path() / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // The picture's bytes; a PDF's dates, which tell when it was drawn, and the numbers cairo
    // gives an SVG's surfaces, which count the surfaces the process has made, left out.
    static std::string Picture(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream lines(text);
        std::string kept;
        for (std::string line; std::getline(lines, line);)
        {
            if (line.find("Date (D:") == std::string::npos)
                kept += std::regex_replace(line, std::regex("surface[0-9]+"), "surface") + '\n';
        }
        return kept;
    }

    RenderOutcome Stream(const std::string& surveyed, const std::string& drawn,
                         const RenderOptions& options, Format format, const std::string& output,
                         std::string* error)
    {
        const genplot::render::PlotSurvey survey = genplot::render::SurveyPlotFile(surveyed);
        EXPECT_EQ(survey.file.status, genplot::PlotFileStatus::Valid) << survey.file.problem;
        std::FILE* out = std::fopen(output.c_str(), "wb");
        EXPECT_NE(out, nullptr);
        const RenderOutcome outcome =
            genplot::render::RenderPlotFile(survey, drawn, options, format, out, error);
        std::fclose(out);
        return outcome;
    }

    TestFolder folder_{"stream-render"};
};

TEST_F(StreamRenderTest, PicturesAreThoseOfTheLoadedFile)
{
    const std::string plot = Write("plot.gpf", Plot(700, "AB"));
    RenderOptions tiled;
    tiled.paperWidthMm = 60;
    tiled.paperHeightMm = 50;
    tiled.trueScale = true;
    tiled.unitMm = 0.1;
    tiled.tile = true;
    tiled.boxes = true;
    const struct
    {
        const char* name;
        Format format;
        RenderOptions options;
    } cases[] = {{"fit.png", Format::Png, {}},
                 {"fit.svg", Format::Svg, {}},
                 {"fit.pdf", Format::Pdf, {}},
                 {"tiled.pdf", Format::Pdf, tiled}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string loaded = (folder_.path() / ("loaded-" + std::string(c.name))).string();
        const std::string streamed =
            (folder_.path() / ("streamed-" + std::string(c.name))).string();
        std::string error;
        ASSERT_TRUE(genplot::render::RenderPlotToPath(genplot::LoadPlotFile(plot), c.options,
                                                      c.format, loaded, &error))
            << error;
        ASSERT_EQ(Stream(plot, plot, c.options, c.format, streamed, &error), RenderOutcome::Drawn)
            << error;
        const std::string expected = Picture(loaded);
        EXPECT_GT(expected.size(), 100u);
        const std::string actual = Picture(streamed);
        std::size_t at = 0;
        while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
            ++at;
        EXPECT_TRUE(expected == actual) << "first difference at byte " << at << ": "
                                        << expected.substr(at > 40 ? at - 40 : 0, 120) << " | "
                                        << actual.substr(at > 40 ? at - 40 : 0, 120);
    }
}

TEST_F(StreamRenderTest, FileThatChangedIsNotDrawn)
{
    const std::string plot = Write("plot.gpf", Plot(700, "AB"));
    const std::string output = (folder_.path() / "out.png").string();
    std::string error;
    // A point further out: the page planned for the first reading no longer holds the plot.
    const std::string farther = Write("farther.gpf", Plot(900, "AB"));
    EXPECT_EQ(Stream(plot, farther, {}, Format::Png, output, &error), RenderOutcome::ReadFailed);
    EXPECT_EQ(error, "the file changed while it was drawn");
    const std::string relabelled = Write("relabelled.gpf", Plot(700, "XY"));
    error.clear();
    EXPECT_EQ(Stream(plot, relabelled, {}, Format::Png, output, &error), RenderOutcome::ReadFailed);
    EXPECT_EQ(error, "the file changed while it was drawn");
    const std::string gone = (folder_.path() / "gone.gpf").string();
    error.clear();
    EXPECT_EQ(Stream(plot, gone, {}, Format::Png, output, &error), RenderOutcome::ReadFailed);
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    // The same bytes under another name are the same file.
    const std::string copy = Write("copy.gpf", Plot(700, "AB"));
    EXPECT_EQ(Stream(plot, copy, {}, Format::Png, output, &error), RenderOutcome::Drawn) << error;
}

} // namespace
