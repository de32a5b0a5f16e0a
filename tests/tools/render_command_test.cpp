// `genplot render` run as a user runs it, on plot files spelled out byte by byte from the
// layout: the command line, the formats, the failures. Every PDF must open in pdfinfo, every
// SVG parse in xmllint and draw in rsvg-convert. What the pictures show is checked pixel by
// pixel in tests/render.

#include "support/byte_builder.h"
#include "support/file_contents.h"
#include "support/writer_fixtures.h"
#include "tools/program_runner.h"
#include "tools/scratch_folder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace
{

// Extents of labels at the ends of the coordinate range stay inside it, as the library's do.
std::int32_t Saturated(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

using genplot::test::LineCount;
using Bytes = std::vector<std::uint8_t>;
using Points = std::vector<std::pair<std::int32_t, std::int32_t>>;

// A label as the plot file stores it.
struct Label
{
    std::string text;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t directionX = 10000;
    std::int32_t directionY = 0;
    std::int32_t height = 10; // the header's default: no height stored
    unsigned justification = 1;
};

// A piece section: records in order, each a pen-mode type (0x0400/0x0401), a line-type code
// (0x0410 with its byte) or a polyline.
struct Step
{
    Step(unsigned recordType, unsigned lineTypeCode = 0, Points linePoints = {})
        : type(recordType), code(lineTypeCode), points(std::move(linePoints))
    {
    }
    unsigned type;
    unsigned code;
    Points points;
};

// A complete file with the given piece sections (all piece boxes (0,0)-(100,100)) and loose
// labels; extents (0,0)-(100,100), default text height 10. Offsets are worked out as the
// layout places them.
Bytes Plot(const std::vector<std::vector<Step>>& pieces, const std::vector<Label>& labels)
{
    std::vector<Bytes> sections;
    for (const auto& steps : pieces)
    {
        ByteBuilder section;
        for (const Step& step : steps)
        {
            if (step.type == 0x0410)
            {
                section.Record(0x0410, 1).U8(static_cast<std::uint8_t>(step.code));
            }
            else if (step.type == 0x0301)
            {
                section.Record(0x0301, static_cast<std::uint16_t>(10 * step.points.size() + 4))
                    .U16(0x0100)
                    .U16(static_cast<std::uint16_t>(step.points.size()));
                for (const auto& [x, y] : step.points)
                {
                    section.Point(x, y);
                }
            }
            else
            {
                section.Record(static_cast<std::uint16_t>(step.type), 0);
            }
        }
        section.Record(0x03FF, 0);
        sections.push_back(section.bytes());
    }
    ByteBuilder annotations;
    for (const Label& label : labels)
    {
        const bool turned = label.directionX != 10000 || label.directionY != 0;
        const bool tall = label.height != 10;
        annotations
            .Record(0x0500, static_cast<std::uint16_t>(30 + label.text.size() + (turned ? 8 : 0) +
                                                       (tall ? 4 : 0)))
            .U16(static_cast<std::uint16_t>(label.text.size()))
            .U8(static_cast<std::uint8_t>((turned ? 0x01 : 0) | (tall ? 0x10 : 0)))
            .U8(0)
            .U8(0)
            .U8(static_cast<std::uint8_t>(label.justification))
            // A generous extent; the renderer places text by position and direction.
            .I32(label.x)
            .I32(Saturated(static_cast<std::int64_t>(label.y) - label.height))
            .I32(Saturated(static_cast<std::int64_t>(label.x) + 100))
            .I32(Saturated(static_cast<std::int64_t>(label.y) + 100))
            .I32(label.x)
            .I32(label.y);
        if (turned)
        {
            annotations.I32(label.directionX).I32(label.directionY);
        }
        if (tall)
        {
            annotations.I32(label.height);
        }
        annotations.Text(label.text);
    }

    const std::uint32_t tableEnd = 156 + 20 * static_cast<std::uint32_t>(pieces.size());
    std::uint32_t annotationsAt = tableEnd;
    for (const Bytes& section : sections)
    {
        annotationsAt += static_cast<std::uint32_t>(section.size());
    }
    ExpectedHeader h;
    h.sourceName = "render";
    h.extents[0] = h.extents[1] = 0;
    h.extents[2] = h.extents[3] = 100;
    h.defaultTextHeight = 10;
    h.pieceCount = static_cast<std::uint16_t>(pieces.size());
    h.looseAnnotationCount = static_cast<std::uint16_t>(labels.size());
    h.looseAnnotationOffset = labels.empty() ? -1 : static_cast<std::int32_t>(annotationsAt);
    ByteBuilder out;
    AppendHeaderRecord(out, h).Record(0x01FF, 0).Record(0x02FF, 0);
    out.Record(0x0300, static_cast<std::uint16_t>(20 * pieces.size()));
    std::uint32_t sectionAt = tableEnd;
    for (const Bytes& section : sections)
    {
        out.I32(0).I32(0).I32(100).I32(100).I32(static_cast<std::int32_t>(sectionAt));
        sectionAt += static_cast<std::uint32_t>(section.size());
    }
    for (const Bytes& section : sections)
    {
        out.Append(section);
    }
    out.Append(annotations.bytes()).Record(0xFFFF, 0);
    return out.bytes();
}

const Points kSquare = {{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}};

std::vector<Step> Square(std::vector<Step> lines = {})
{
    std::vector<Step> steps = {{0x0400}, {0x0410, 1}, {0x0301, 0, kSquare}};
    steps.insert(steps.end(), lines.begin(), lines.end());
    return steps;
}

bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

int Exit(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RenderCommandTest : public genplot::test::ScratchFolderTest
{
  protected:
    std::string Input(const Bytes& bytes)
    {
        const std::string input = dir_ + "/plot.gpf";
        std::ofstream(input, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return input;
    }

    // Renders `bytes` to `name` in the test folder with `options`; returns the exit status,
    // the picture in `picture` and stderr in `err`.
    int Render(const Bytes& bytes, const std::string& name, const std::string& options = "")
    {
        const std::string input = Input(bytes);
        output_ = name == "-" ? "-" : dir_ + "/" + name;
        const std::string into = name == "-" ? " >'" + dir_ + "/stdout'" : "";
        const std::string command = std::string("'") + GENPLOT_EXE + "' render '" + input +
                                    "' -o '" + output_ + "' " + options + into + " 2>'" + dir_ +
                                    "/stderr'";
        if (name != "-")
        {
            std::remove(output_.c_str());
        }
        const int status = Exit(std::system(command.c_str()));
        picture = ReadFileText(name == "-" ? dir_ + "/stdout" : output_);
        err = ReadFileText(dir_ + "/stderr");
        return status;
    }

    // The PDF opens in pdfinfo; returns its page count (0 when it does not open).
    int PdfPages()
    {
        if (!HaveTool("pdfinfo"))
        {
            ADD_FAILURE() << "pdfinfo (poppler-utils) is not installed";
            return 0;
        }
        const std::string info = dir_ + "/info";
        if (Exit(std::system(("pdfinfo '" + output_ + "' >'" + info + "' 2>&1").c_str())) != 0)
        {
            return 0;
        }
        const std::string text = ReadFileText(info);
        const std::size_t at = text.find("Pages:");
        return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 6);
    }

    void ExpectSvgParsesAndDraws()
    {
        ASSERT_TRUE(HaveTool("xmllint") && HaveTool("rsvg-convert"))
            << "xmllint or rsvg-convert is not installed";
        EXPECT_EQ(Exit(std::system(("xmllint --noout '" + output_ + "'").c_str())), 0);
        const std::string png = dir_ + "/svg.png";
        EXPECT_EQ(Exit(std::system(("rsvg-convert '" + output_ + "' -o '" + png + "'").c_str())),
                  0);
        EXPECT_EQ(ReadFileText(png).compare(0, 4, "\x89PNG"), 0);
    }

    std::string output_;
    std::string picture;
    std::string err;
};

} // namespace

TEST_F(RenderCommandTest, FormatComesFromTheExtensionOrFormatOption)
{
    const Bytes bytes = Plot({Square({{0x0301, 0, {{10, 20}, {30, 40}}}})}, {Label{"AB", 10, 20}});
    ASSERT_EQ(Render(bytes, "out.pdf"), 0) << err;
    EXPECT_EQ(picture.compare(0, 5, "%PDF-"), 0);
    EXPECT_EQ(PdfPages(), 1);
    ASSERT_EQ(Render(bytes, "out.PNG"), 0) << err;
    EXPECT_EQ(picture.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    ASSERT_EQ(Render(bytes, "out.svg"), 0) << err;
    EXPECT_NE(picture.find("<svg"), std::string::npos);
    ExpectSvgParsesAndDraws();
    // --format wins over the extension.
    ASSERT_EQ(Render(bytes, "picture.svg", "--format pdf"), 0) << err;
    EXPECT_EQ(picture.compare(0, 5, "%PDF-"), 0);
    EXPECT_TRUE(err.empty()) << err;
}

TEST_F(RenderCommandTest, DashWritesToStandardOutput)
{
    const Bytes bytes = Plot({Square()}, {});
    ASSERT_EQ(Render(bytes, "-", "--format png"), 0) << err;
    EXPECT_EQ(picture.compare(0, 4, "\x89PNG"), 0);
    EXPECT_NE(Exit(std::system(("test -e '" + dir_ + "/-'").c_str())), 0) << "no file named -";
    // Standard output has no extension to go by.
    EXPECT_EQ(Render(bytes, "-"), 64);
    EXPECT_EQ(err.rfind("genplot render: ", 0), 0u) << err;
}

TEST_F(RenderCommandTest, WrongCommandLinesExit64AndNameTheProblem)
{
    const Bytes bytes = Plot({Square()}, {});
    const struct
    {
        const char* name;
        const char* options;
        const char* says;
    } cases[] = {
        {"out.txt", "", "does not end in .pdf, .png or .svg"},
        {"out.pdf", "--format tiff", "--format takes pdf, png or svg"},
        {"out.pdf", "--paper A7", "--paper takes"},
        {"out.pdf", "--paper 10x10", "--paper takes"},
        {"out.pdf", "--paper A4 --tile", "--tile"},
        {"out.png", "--paper A4 --scale --tile", "only PDF"},
        {"out.pdf", "--landscape", "--landscape turns a paper"},
        {"out.pdf", "--fit --scale", "excludes"},
        {"out.png", "--dpi 0", "dpi"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(Render(bytes, c.name, c.options), 64) << c.options << ": " << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << c.options << ": " << err;
        EXPECT_TRUE(picture.empty()) << c.options;
    }
}

TEST_F(RenderCommandTest, PaperFitScaleAndTiles)
{
    // The plot spans 110 x 120 units (the label's extent reaches past the square); at 1 mm a
    // unit it fits A4 at true scale but not the 90 x 120 mm printable area of 110 x 140 mm
    // paper, where --tile spreads it over two pages side by side (landscape: one above the
    // other).
    const Bytes bytes = Plot({Square({{0x0301, 0, {{10, 20}, {30, 40}}}})}, {Label{"AB", 10, 20}});
    ASSERT_EQ(Render(bytes, "a4.pdf", "--paper a4 --scale --unit-mm 1"), 0) << err;
    EXPECT_EQ(PdfPages(), 1);
    EXPECT_EQ(Render(bytes, "small.pdf", "--paper 110x140mm --scale --unit-mm 1"), 4);
    EXPECT_NE(err.find("does not fit"), std::string::npos) << err;
    EXPECT_NE(err.find("--tile"), std::string::npos) << err;
    EXPECT_TRUE(picture.empty());
    ASSERT_EQ(Render(bytes, "tiles.pdf", "--paper 110x140mm --scale --unit-mm 1 --tile"), 0) << err;
    EXPECT_EQ(PdfPages(), 2);
    ASSERT_EQ(Render(bytes, "wide.pdf", "--paper 110x140mm --landscape --scale --unit-mm 1 --tile"),
              0)
        << err;
    EXPECT_EQ(PdfPages(), 2);
    ASSERT_EQ(Render(bytes, "fit.pdf", "--paper 110x140mm"), 0) << err;
    EXPECT_EQ(PdfPages(), 1);
    ASSERT_EQ(Render(bytes, "fit.png", "--paper A4 --dpi 50"), 0) << err;
    // A4 at 50 dpi: 413.4 x 584.6 points, rounded up.
    ASSERT_GT(picture.size(), 24u);
    const auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(picture[at]) << 24) |
               (static_cast<unsigned char>(picture[at + 1]) << 16) |
               (static_cast<unsigned char>(picture[at + 2]) << 8) |
               static_cast<unsigned char>(picture[at + 3]);
    };
    EXPECT_EQ(be32(16), 414u);
    EXPECT_EQ(be32(20), 585u);
}

TEST_F(RenderCommandTest, AnyLabelBytesDraw)
{
    // Every byte the writer can leave in a text (it removes NUL, 0x03, 0x0E and 0x0F), split
    // over several labels so that "\r" line breaks do not swallow the rest.
    std::vector<Label> labels;
    std::string text;
    for (unsigned byte = 1; byte < 256; ++byte)
    {
        if (byte == 0x03 || byte == 0x0E || byte == 0x0F)
        {
            continue;
        }
        text += static_cast<char>(byte);
        if (text.size() == 40)
        {
            labels.push_back(Label{text, 0, static_cast<std::int32_t>(labels.size()) * 12});
            text.clear();
        }
    }
    labels.push_back(Label{text, 0, 80});
    labels.push_back(Label{"<a href=\"x\">&amp;'</a>", 0, 90});
    labels.push_back(Label{"caf\xC3\xA9 \xE2\x82 \x80 ]]>", 0, 95});
    const Bytes bytes = Plot({}, labels);
    ASSERT_EQ(Render(bytes, "labels.svg"), 0) << err;
    ExpectSvgParsesAndDraws();
    ASSERT_EQ(Render(bytes, "labels.pdf"), 0) << err;
    EXPECT_EQ(PdfPages(), 1);
    ASSERT_EQ(Render(bytes, "labels.png"), 0) << err;
}

TEST_F(RenderCommandTest, DamagedAndCancelledFilesAreNotDrawn)
{
    Bytes damaged = Plot({Square()}, {});
    damaged.resize(damaged.size() - 10);
    EXPECT_EQ(Render(damaged, "out.pdf"), 1);
    // One line naming the command, the file and the offset of the problem.
    EXPECT_EQ(err.rfind("genplot render: " + dir_ + "/plot.gpf: 185: ", 0), 0u) << err;
    EXPECT_EQ(LineCount(err), 1) << err;
    EXPECT_TRUE(picture.empty());

    const Bytes notPlot = {'I', 'N', ';', 'P', 'D', ';'};
    EXPECT_EQ(Render(notPlot, "out.pdf"), 1);
    EXPECT_NE(err.find("genplot convert"), std::string::npos) << err;

    // The first-written header (section offsets -1), piece 1 stopped after one line.
    Bytes cancelled = Plot({Square(), Square({{0x0301, 0, {{1, 1}, {2, 2}}}})}, {});
    cancelled.resize(cancelled.size() - 8); // drop piece 1's end and the end record
    for (std::size_t at = 116; at < 144; at += 4)
    {
        cancelled[at] = cancelled[at + 1] = cancelled[at + 2] = cancelled[at + 3] = 0xFF;
    }
    for (std::size_t at = 192; at < 196; ++at)
    {
        cancelled[at] = 0xFF; // piece 1's recordOffset -1
    }
    EXPECT_EQ(Render(cancelled, "out.pdf"), 2) << err;
    EXPECT_NE(err.find("cancelled"), std::string::npos) << err;
    EXPECT_EQ(LineCount(err), 1) << err;
    EXPECT_TRUE(picture.empty());
    ASSERT_EQ(Render(cancelled, "out.pdf", "--allow-cancelled"), 0) << err;
    EXPECT_EQ(PdfPages(), 1);

    EXPECT_EQ(Render(Bytes{}, "none.pdf", "--format pdf"), 1);
    std::remove((dir_ + "/plot.gpf").c_str());
    const std::string command = std::string("'") + GENPLOT_EXE + "' render '" + dir_ +
                                "/missing.gpf' -o '" + dir_ + "/out.pdf' 2>/dev/null";
    EXPECT_EQ(Exit(std::system(command.c_str())), 3);
}

TEST_F(RenderCommandTest, FailedWriteLeavesNoFile)
{
    const std::string input = Input(Plot({Square()}, {}));
    const std::string command = std::string("'") + GENPLOT_EXE + "' render '" + input + "' -o '" +
                                dir_ + "/missing/out.pdf' 2>/dev/null";
    EXPECT_EQ(Exit(std::system(command.c_str())), 4);
    EXPECT_NE(Exit(std::system(("test -e '" + dir_ + "/missing'").c_str())), 0);
    if (Exit(std::system("test -w /dev/full")) == 0)
    {
        const std::string full = std::string("'") + GENPLOT_EXE + "' render '" + input +
                                 "' -o - --format pdf >/dev/full 2>'" + dir_ + "/stderr'";
        EXPECT_EQ(Exit(std::system(full.c_str())), 4);
        EXPECT_NE(ReadFileText(dir_ + "/stderr").find("failed"), std::string::npos);
    }
}

TEST_F(RenderCommandTest, LongLinesAndExtremeCoordinatesRender)
{
    // A split outline: a full 6553-point record and its follow-on record.
    Points longOutline;
    for (std::int32_t i = 0; i < 6553; ++i)
    {
        longOutline.emplace_back(i, (i % 2) * 5);
    }
    const Points rest = {{6552, 0}, {6552, -100}, {0, 0}};
    const Points far = {{-2147483647 - 1, -2147483647 - 1}, {2147483647, 2147483647}};
    const Bytes bytes = Plot({{{0x0400},
                               {0x0410, 1},
                               {0x0301, 0, longOutline},
                               {0x0301, 0, rest},
                               {0x0301, 0, far},
                               {0x0301, 0, {{7, 7}}}}},
                             {Label{"far", 2147483000, -2147483000, 10000, 0, 1000000, 5}});
    for (const char* name : {"far.pdf", "far.png", "far.svg"})
    {
        ASSERT_EQ(Render(bytes, name, "--size 400 --boxes"), 0) << name << ": " << err;
        EXPECT_FALSE(picture.empty()) << name;
    }
    ExpectSvgParsesAndDraws();
    // At true scale the plot is kilometres wide: no PDF page holds that.
    EXPECT_EQ(Render(bytes, "huge.pdf", "--scale"), 4);
    EXPECT_NE(err.find("larger than PDF allows"), std::string::npos) << err;
}
