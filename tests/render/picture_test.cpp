// The pictures, checked with real tools: every PDF rasterised by pdftoppm, every SVG by
// rsvg-convert, every PNG decoded by cairo's reader. One plot drawn in the three formats at the
// same size must agree pixel for pixel where any of them carries ink, and a label's ink must
// lie inside the extent the library computes for it.

#include "geometry/bbox.h"
#include "geometry/label_extent_internal.h"
#include "render/render.h"

#include <algorithm>
#include <cairo.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
using genplot::render::Format;
using genplot::render::RenderOptions;

struct Image
{
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // 0xRRGGBB

    std::uint32_t At(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

int Red(std::uint32_t p)
{
    return static_cast<int>((p >> 16) & 0xFF);
}
int Green(std::uint32_t p)
{
    return static_cast<int>((p >> 8) & 0xFF);
}
int Blue(std::uint32_t p)
{
    return static_cast<int>(p & 0xFF);
}
int Darkest(std::uint32_t p)
{
    return std::min({Red(p), Green(p), Blue(p)});
}

// Decodes a PNG file with cairo; an empty image when it does not decode.
Image Decode(const std::string& path)
{
    Image image;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_flush(surface);
        image.width = cairo_image_surface_get_width(surface);
        image.height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const bool alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
        for (int y = 0; y < image.height; ++y)
        {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
            for (int x = 0; x < image.width; ++x)
            {
                std::uint32_t p = row[x];
                if (alpha && (p >> 24) != 0xFF)
                {
                    // Premultiplied over white.
                    const unsigned a = p >> 24;
                    const auto over = [a](unsigned c) { return c + (255 - a); };
                    p = (over((p >> 16) & 0xFF) << 16) | (over((p >> 8) & 0xFF) << 8) |
                        over(p & 0xFF);
                }
                image.pixels.push_back(p & 0xFFFFFF);
            }
        }
    }
    cairo_surface_destroy(surface);
    return image;
}

PlotPieceRecord Record(RecordType type, std::uint8_t code = 0)
{
    PlotPieceRecord record;
    record.type = type;
    record.lineTypeCode = code;
    return record;
}

PlotPieceRecord Polyline(std::vector<PlotFilePoint> points)
{
    PlotPieceRecord record = Record(RecordType::Polyline);
    record.points = std::move(points);
    return record;
}

// A label with the extent the library computes for it.
PlotFileAnnotation Label(const std::string& text, std::int32_t x, std::int32_t y,
                         std::int32_t height, std::uint8_t justification, std::int32_t dx = 10000,
                         std::int32_t dy = 0)
{
    PlotFileAnnotation label;
    label.text = text;
    label.position = {x, y};
    label.textHeight = height;
    label.justification = justification;
    label.directionX = dx;
    label.directionY = dy;
    CBBox extent;
    genplot::detail::ComputeLabelExtent(x, y, dx, dy, justification, text.c_str(), height, &extent);
    label.extent = {{extent.lowerLeft.x, extent.lowerLeft.y},
                    {extent.upperRight.x, extent.upperRight.y}};
    return label;
}

// Everything inside (0,0)-(1000,1000): without paper the page is that box with 50 units of
// margin, so at 1100 pixels one unit is one pixel.
PlotFile Plot(std::vector<PlotFilePiece> pieces, std::vector<PlotFileAnnotation> labels)
{
    PlotFile plot;
    plot.status = genplot::PlotFileStatus::Valid;
    plot.hasHeader = true;
    plot.header.extents = {{0, 0}, {1000, 1000}};
    plot.pieces = std::move(pieces);
    plot.looseAnnotations = std::move(labels);
    return plot;
}

std::vector<PlotFileAnnotation> Labels()
{
    return {Label("Hgjpq|bdl{}", 100, 850, 40, 1), Label("Mixed\r\nlines_y", 100, 600, 30, 2),
            Label("CENTRE gy", 550, 400, 50, 5, 7071, 7071),
            Label("Down()", 900, 700, 40, 1, 0, -10000), Label("back", 800, 150, 30, 5, -10000, 0)};
}

PlotFile Drawing()
{
    PlotFilePiece piece;
    piece.records = {Record(RecordType::PenMode),
                     Record(RecordType::LineType, 1),
                     Polyline({{20, 20}, {980, 20}, {980, 980}, {20, 980}, {20, 20}}),
                     Polyline({{40, 40}, {960, 960}}),
                     Record(RecordType::LineType, 2),
                     Polyline({{40, 300}, {960, 300}}),
                     Record(RecordType::PenMode),
                     Record(RecordType::LineType, 1),
                     Polyline({{40, 200}, {960, 200}, {500, 60}}),
                     Polyline({{700, 700}}),
                     Record(RecordType::PieceEnd)};
    return Plot({piece}, Labels());
}

bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class PictureTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* base = std::getenv("GENPLOT_TEST_TMP");
        std::string pattern = std::string(base ? base : "/tmp") + "/picture-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        ASSERT_TRUE(Shell("command -v pdftoppm") && Shell("command -v pdfinfo") &&
                    Shell("command -v rsvg-convert"))
            << "poppler-utils and librsvg2-bin must be installed";
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir_);
    }

    // Draws `plot` in `format` and rasterises it at 96 dpi with the format's own tool.
    Image Rasterise(const PlotFile& plot, RenderOptions options, Format format)
    {
        const char* extension = format == Format::Pdf   ? "pdf"
                                : format == Format::Png ? "png"
                                                        : "svg";
        const std::string path = dir_ + "/picture." + extension;
        std::string error;
        EXPECT_TRUE(genplot::render::RenderPlotToPath(plot, options, format, path, &error))
            << error;
        const std::string png = dir_ + "/raster.png";
        std::filesystem::remove(png);
        if (format == Format::Pdf)
        {
            EXPECT_TRUE(Shell("pdfinfo '" + path + "'"));
            EXPECT_TRUE(
                Shell("pdftoppm -r 96 -png -singlefile '" + path + "' '" + dir_ + "/raster'"));
        }
        else if (format == Format::Svg)
        {
            EXPECT_TRUE(Shell("rsvg-convert -d 96 -p 96 '" + path + "' -o '" + png + "'"));
        }
        else
        {
            std::filesystem::copy_file(path, png);
        }
        const Image image = Decode(png);
        EXPECT_GT(image.width, 0) << extension << " did not give a decodable PNG";
        return image;
    }

    std::string dir_;
};

RenderOptions OnePixelPerUnit()
{
    RenderOptions options;
    options.sizePixels = 1100;
    return options;
}

} // namespace

TEST_F(PictureTest, ThreeFormatsAgreeWhereverThereIsInk)
{
    RenderOptions options;
    options.sizePixels = 440;
    const PlotFile plot = Drawing();
    const Image png = Rasterise(plot, options, Format::Png);
    const Image pdf = Rasterise(plot, options, Format::Pdf);
    const Image svg = Rasterise(plot, options, Format::Svg);
    ASSERT_EQ(png.width, 440);
    ASSERT_EQ(png.height, 440);
    for (const Image* other : {&pdf, &svg})
    {
        ASSERT_EQ(other->width, png.width);
        ASSERT_EQ(other->height, png.height);
    }
    // A pixel carries ink when some channel is below 192. The PDF rasteriser snaps the edges
    // of thin strokes to whole pixels where cairo shades them, so an inked pixel agrees when
    // each of the other pictures has ink there or at a neighbouring pixel.
    const Image* images[] = {&png, &pdf, &svg};
    const auto ink = [](const Image& image, int x, int y) {
        return x >= 0 && y >= 0 && x < image.width && y < image.height &&
               Darkest(image.At(x, y)) < 192;
    };
    const auto inkNear = [&ink](const Image& image, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
        {
            for (int dx = -1; dx <= 1; ++dx)
            {
                if (ink(image, x + dx, y + dy))
                {
                    return true;
                }
            }
        }
        return false;
    };
    std::size_t inked = 0;
    std::size_t agreeing = 0;
    for (int y = 0; y < png.height; ++y)
    {
        for (int x = 0; x < png.width; ++x)
        {
            if (!ink(png, x, y) && !ink(pdf, x, y) && !ink(svg, x, y))
            {
                continue;
            }
            ++inked;
            bool agree = true;
            for (const Image* image : images)
            {
                agree = agree && inkNear(*image, x, y);
            }
            agreeing += agree ? 1 : 0;
        }
    }
    ASSERT_GT(inked, 2000u);
    EXPECT_GE(static_cast<double>(agreeing), 0.99 * static_cast<double>(inked))
        << agreeing << " of " << inked << " inked pixels agree";
}

TEST_F(PictureTest, LabelInkLiesInsideItsExtent)
{
    const PlotFile plot = Plot({}, Labels());
    for (const Format format : {Format::Png, Format::Pdf, Format::Svg})
    {
        const Image image = Rasterise(plot, OnePixelPerUnit(), format);
        ASSERT_EQ(image.width, 1100);
        std::vector<int> inkPerLabel(plot.looseAnnotations.size(), 0);
        int outside = 0;
        for (int y = 0; y < image.height; ++y)
        {
            for (int x = 0; x < image.width; ++x)
            {
                if (Darkest(image.At(x, y)) >= 224)
                {
                    continue;
                }
                // The pixel's centre in plot units.
                const double px = x + 0.5 - 50;
                const double py = 1050 - (y + 0.5);
                bool inside = false;
                for (std::size_t i = 0; i < plot.looseAnnotations.size(); ++i)
                {
                    const auto& box = plot.looseAnnotations[i].extent;
                    if (px >= box.lowerLeft.x - 1.5 && px <= box.upperRight.x + 1.5 &&
                        py >= box.lowerLeft.y - 1.5 && py <= box.upperRight.y + 1.5)
                    {
                        inside = true;
                        ++inkPerLabel[i];
                    }
                }
                outside += inside ? 0 : 1;
            }
        }
        EXPECT_EQ(outside, 0) << static_cast<int>(format);
        for (std::size_t i = 0; i < inkPerLabel.size(); ++i)
        {
            // Every label is drawn, and large: at least a tenth of its box is ink.
            const auto& box = plot.looseAnnotations[i].extent;
            const int area =
                (box.upperRight.x - box.lowerLeft.x) * (box.upperRight.y - box.lowerLeft.y);
            EXPECT_GT(inkPerLabel[i] * 10, area / 4)
                << plot.looseAnnotations[i].text << " in format " << static_cast<int>(format);
        }
    }
}

TEST_F(PictureTest, PenChangesGetColoursAndMonoIsBlack)
{
    const PlotFile plot = Drawing();
    // Row of the first pen's broken line (y = 300) and of the second pen's line (y = 200),
    // left of where the diagonal and the labels cross them.
    const auto darkestInRow = [](const Image& image, int row) {
        std::uint32_t best = 0xFFFFFF;
        for (int y = row - 2; y <= row + 2; ++y)
        {
            for (int x = 100; x < 230; ++x)
            {
                if (Darkest(image.At(x, y)) < Darkest(best))
                {
                    best = image.At(x, y);
                }
            }
        }
        return best;
    };
    const Image colour = Rasterise(plot, OnePixelPerUnit(), Format::Png);
    const std::uint32_t first = darkestInRow(colour, 1050 - 300);
    const std::uint32_t second = darkestInRow(colour, 1050 - 200);
    EXPECT_GT(Blue(first), Red(first) + 40);   // the first pen is blue
    EXPECT_GT(Red(second), Blue(second) + 40); // the second red
    // The broken line has gaps along its row; the solid one at y = 200 has none.
    const auto runs = [](const Image& image, int row) {
        int count = 0;
        bool inInk = false;
        for (int x = 100; x < 400; ++x)
        {
            // The stroke is centred on the boundary between two pixel rows.
            const bool ink =
                std::min(Darkest(image.At(x, row - 1)), Darkest(image.At(x, row))) < 200;
            count += ink && !inInk ? 1 : 0;
            inInk = ink;
        }
        return count;
    };
    EXPECT_GT(runs(colour, 1050 - 300), 20);
    EXPECT_EQ(runs(colour, 1050 - 200), 1);

    RenderOptions mono = OnePixelPerUnit();
    mono.mono = true;
    const Image black = Rasterise(plot, mono, Format::Png);
    for (const std::uint32_t p : black.pixels)
    {
        ASSERT_TRUE(Red(p) == Green(p) && Green(p) == Blue(p)) << std::hex << p;
    }
}

TEST_F(PictureTest, TilesCarryCropMarksOutsideThePrintableArea)
{
    // 1000 units at 0.25 mm are 250 mm: on 150 x 150 mm paper (130 mm printable) that is a
    // 2 x 2 grid of pages.
    RenderOptions options;
    options.paperWidthMm = 150;
    options.paperHeightMm = 150;
    options.trueScale = true;
    options.unitMm = 0.25;
    options.tile = true;
    const std::string path = dir_ + "/tiles.pdf";
    std::string error;
    ASSERT_TRUE(genplot::render::RenderPlotToPath(Drawing(), options, Format::Pdf, path, &error))
        << error;
    ASSERT_TRUE(Shell("pdfinfo '" + path + "' | grep -q '^Pages: *4$'"));
    ASSERT_TRUE(Shell("pdftoppm -r 72 -png -f 4 -singlefile '" + path + "' '" + dir_ + "/page'"));
    const Image page = Decode(dir_ + "/page.png");
    ASSERT_GT(page.width, 400);
    // The margin is 10 mm (28 points): a mark runs out from each corner of the printable
    // area, and nothing else is drawn in the margin.
    int markInk = 0;
    int otherInk = 0;
    for (int y = 0; y < page.height; ++y)
    {
        for (int x = 0; x < page.width; ++x)
        {
            const bool margin = x < 27 || y < 27 || x >= page.width - 27 || y >= page.height - 27;
            if (!margin || Darkest(page.At(x, y)) >= 200)
            {
                continue;
            }
            const bool nearCorner = (std::abs(x - 28) < 2 || std::abs(x - (page.width - 28)) < 2 ||
                                     std::abs(y - 28) < 2 || std::abs(y - (page.height - 28)) < 2);
            (nearCorner ? markInk : otherInk) += 1;
        }
    }
    EXPECT_GT(markInk, 8 * 5);
    EXPECT_EQ(otherInk, 0);
}

namespace
{

// Every test here draws; the drawing caches are freed once at the end, so the sanitizer
// build's leak checker sees nothing held.
class DrawingCaches : public ::testing::Environment
{
  public:
    void TearDown() override
    {
        genplot::render::ReleaseDrawingCaches();
    }
};

const auto* const kDrawingCaches = ::testing::AddGlobalTestEnvironment(new DrawingCaches);

} // namespace
