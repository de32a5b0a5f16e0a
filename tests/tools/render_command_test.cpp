// `genplot render` run as a user runs it, on plot files spelled out byte by byte from the
// layout. Every picture it makes must be accepted by a real XML parser (xmllint) and drawn
// without error by a real SVG renderer (rsvg-convert).

#include "support/byte_builder.h"
#include "support/writer_fixtures.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace
{

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
            .I32(label.y - label.height)
            .I32(label.x + 100)
            .I32(label.y + 100)
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

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

int Exit(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RenderCommandTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* base = std::getenv("GENPLOT_TEST_TMP");
        std::string pattern = std::string(base ? base : "/tmp") + "/render-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // Renders `bytes` with `options`; returns the exit status, the SVG in `svg` and stderr in
    // `err`.
    int Render(const Bytes& bytes, const std::string& options = "")
    {
        const std::string input = dir_ + "/plot.gpf";
        std::ofstream(input, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        const std::string command = std::string("'") + GENPLOT_EXE + "' render '" + input +
                                    "' -o '" + Output() + "' " + options + " 2>'" + dir_ +
                                    "/stderr'";
        std::remove(Output().c_str());
        const int status = Exit(std::system(command.c_str()));
        svg = Slurp(Output());
        err = Slurp(dir_ + "/stderr");
        return status;
    }

    std::string Output() const
    {
        return dir_ + "/out.svg";
    }

    // The picture must parse as XML and render.
    void ExpectWellFormedAndRenderable()
    {
        if (!HaveTool("xmllint") || !HaveTool("rsvg-convert"))
        {
            GTEST_SKIP() << "xmllint or rsvg-convert is not installed";
        }
        EXPECT_EQ(Exit(std::system(("xmllint --noout '" + Output() + "'").c_str())), 0) << svg;
        const std::string png = dir_ + "/out.png";
        EXPECT_EQ(Exit(std::system(("rsvg-convert '" + Output() + "' -o '" + png + "'").c_str())),
                  0)
            << svg;
        EXPECT_GT(Slurp(png).size(), 0u);
    }

    std::size_t Count(const std::string& needle) const
    {
        std::size_t count = 0;
        for (std::size_t at = svg.find(needle); at != std::string::npos;
             at = svg.find(needle, at + 1))
        {
            ++count;
        }
        return count;
    }

    std::string dir_;
    std::string svg;
    std::string err;
};

} // namespace

TEST_F(RenderCommandTest, DrawsOutlinesAndLinesWithYPointingUp)
{
    ASSERT_EQ(Render(Plot({Square({{0x0301, 0, {{10, 20}, {30, 40}}}})}, {})), 0) << err;
    ExpectWellFormedAndRenderable();
    EXPECT_EQ(Count("<path class=\"outline\""), 1u);
    EXPECT_EQ(Count("<path class=\"line\""), 1u);
    EXPECT_NE(svg.find("d=\"M0 0L100 0L100 -100L0 -100L0 0\""), std::string::npos) << svg;
    EXPECT_NE(svg.find("d=\"M10 -20L30 -40\""), std::string::npos) << svg;
    // The extents (0,0)-(100,100) with a 5 % margin; the page's top is the plot's top.
    EXPECT_NE(svg.find("viewBox=\"-5 -105 110 110\""), std::string::npos) << svg;
    EXPECT_NE(svg.find("width=\"1000\" height=\"1000\""), std::string::npos) << svg;
}

TEST_F(RenderCommandTest, BrokenLineTypesAreDashedAndPensDiffer)
{
    // Outline on the first pen, solid; a broken line; then a new pen, solid again.
    const Bytes bytes = Plot({Square({{0x0410, 2},
                                      {0x0301, 0, {{10, 10}, {90, 10}}},
                                      {0x0400},
                                      {0x0410, 1},
                                      {0x0301, 0, {{10, 50}, {90, 50}}},
                                      {0x0401},
                                      {0x0301, 0, {{10, 90}, {90, 90}}}})},
                             {});
    ASSERT_EQ(Render(bytes), 0) << err;
    ExpectWellFormedAndRenderable();
    struct Path
    {
        std::string stroke;
        bool dashed;
    };
    std::vector<Path> paths;
    for (std::size_t at = svg.find("<path "); at != std::string::npos;
         at = svg.find("<path ", at + 1))
    {
        const std::string element = svg.substr(at, svg.find("/>", at) - at);
        const std::size_t stroke = element.find(" stroke=\"") + 9;
        paths.push_back(
            {element.substr(stroke, 7), element.find("stroke-dasharray") != std::string::npos});
    }
    ASSERT_EQ(paths.size(), 4u) << svg;
    EXPECT_FALSE(paths[0].dashed); // outline, solid
    EXPECT_TRUE(paths[1].dashed);  // code 2: dashed
    EXPECT_FALSE(paths[2].dashed); // back to code 1
    EXPECT_FALSE(paths[3].dashed);
    EXPECT_EQ(paths[0].stroke, paths[1].stroke); // same pen
    EXPECT_NE(paths[1].stroke, paths[2].stroke); // the pen changed
    EXPECT_NE(paths[2].stroke, paths[3].stroke); // and again, to pen mode 0x0401
    EXPECT_EQ(paths[0].stroke[0], '#');
}

TEST_F(RenderCommandTest, LabelsArePlacedAndTurnedByJustificationAndDirection)
{
    Label left{"AB", 10, 20};
    Label middle{"MID", 30, 40, 0, 10000, 20, 2};
    Label centred{"CENTRE\r\nX", 50, 60, -10000, 0, 10, 5};
    ASSERT_EQ(Render(Plot({}, {left, middle, centred})), 0) << err;
    ExpectWellFormedAndRenderable();
    // Justification 1: the anchor at the foot of the first line, the line starting there.
    EXPECT_NE(svg.find("<text transform=\"translate(10 -20)\" font-size=\"10\" "
                       "xml:space=\"preserve\"><tspan x=\"0\" y=\"0\""),
              std::string::npos)
        << svg;
    // Justification 2, a quarter turn counter-clockwise: baseline half a height below.
    EXPECT_NE(svg.find("<text transform=\"translate(30 -40) rotate(-90)\" font-size=\"20\" "
                       "xml:space=\"preserve\"><tspan x=\"0\" y=\"10\""),
              std::string::npos)
        << svg;
    // Justification 5, turned half way round: the block centred on the longest line (6
    // characters of 10 units), each line centred on its own span from the block's left edge;
    // the second line 1.5 heights below.
    EXPECT_NE(svg.find("<text transform=\"translate(50 -60) rotate(-180)\" font-size=\"10\" "
                       "xml:space=\"preserve\"><tspan x=\"0\" y=\"5\" text-anchor=\"middle\""),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find("<tspan x=\"-25\" y=\"20\" text-anchor=\"middle\""), std::string::npos)
        << svg;
    EXPECT_NE(svg.find(">CENTRE</tspan>"), std::string::npos) << svg;
    EXPECT_NE(svg.find(">X</tspan>"), std::string::npos) << svg;
}

TEST_F(RenderCommandTest, AnyLabelBytesGiveWellFormedXml)
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
    // Markup characters, a valid UTF-8 sequence, a truncated one and a lone continuation byte.
    labels.push_back(Label{"<a href=\"x\">&amp;'</a>", 0, 90});
    labels.push_back(Label{"caf\xC3\xA9 \xE2\x82 \x80 ]]>", 0, 95});
    ASSERT_EQ(Render(Plot({}, labels)), 0) << err;
    ExpectWellFormedAndRenderable();
    EXPECT_NE(svg.find("&lt;a href=&quot;x&quot;&gt;&amp;amp;&apos;&lt;/a&gt;"), std::string::npos)
        << svg;
    EXPECT_NE(svg.find("caf&#xE9; &#xE2;&#xFFFD; &#xFFFD; ]]&gt;"), std::string::npos) << svg;
    EXPECT_NE(svg.find("&#x2401;"), std::string::npos) << svg; // 0x01 as its control picture
    for (char c : svg)
    {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80u) << "the picture is plain ASCII";
    }
}

TEST_F(RenderCommandTest, DamagedAndCancelledFilesAreNotDrawn)
{
    Bytes damaged = Plot({Square()}, {});
    damaged.resize(damaged.size() - 10);
    EXPECT_EQ(Render(damaged), 1);
    EXPECT_NE(err.find(".gpf: 185: "), std::string::npos) << err; // the outline runs past the end
    EXPECT_TRUE(svg.empty());

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
    EXPECT_EQ(Render(cancelled), 2) << err;
    EXPECT_NE(err.find("cancelled"), std::string::npos) << err;
    EXPECT_TRUE(svg.empty());

    ASSERT_EQ(Render(cancelled, "--allow-cancelled"), 0) << err;
    ExpectWellFormedAndRenderable();
    EXPECT_EQ(Count("<path class=\"outline\""), 2u);
}

TEST_F(RenderCommandTest, FailedWriteLeavesNoFile)
{
    const std::string input = dir_ + "/plot.gpf";
    const Bytes bytes = Plot({Square()}, {});
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const std::string command = std::string("'") + GENPLOT_EXE + "' render '" + input + "' -o '" +
                                dir_ + "/missing/out.svg' 2>/dev/null";
    EXPECT_EQ(Exit(std::system(command.c_str())), 4);
    EXPECT_NE(Exit(std::system(("test -e '" + dir_ + "/missing'").c_str())), 0);
}

TEST_F(RenderCommandTest, LongLinesAndExtremeCoordinatesRender)
{
    // A split outline: a full 6553-point record and its follow-on record are both outline.
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
                             {});
    ASSERT_EQ(Render(bytes, "--size 400 --boxes"), 0) << err;
    ExpectWellFormedAndRenderable();
    EXPECT_EQ(Count("<path class=\"outline\""), 2u);
    EXPECT_EQ(Count("<path class=\"line\""), 2u);
    EXPECT_NE(svg.find("M-2147483648 2147483648L2147483647 -2147483647"), std::string::npos);
    EXPECT_NE(svg.find("d=\"M7 -7L7 -7\""), std::string::npos); // a lone point as a dot
    EXPECT_NE(svg.find("width=\"400\""), std::string::npos);
}
