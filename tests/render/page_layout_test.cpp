// Paper names, format names and where the plot goes on the page.

#include "render/page_layout_internal.h"
#include "render/render.h"

#include <string>

#include <gtest/gtest.h>

namespace
{

using genplot::detail::PagePlan;
using genplot::detail::PlanPages;
using genplot::render::Format;
using genplot::render::RenderOptions;

genplot::PlotFile Square(std::int32_t side)
{
    genplot::PlotFile plot;
    plot.hasHeader = true;
    plot.header.extents = {{0, 0}, {side, side}};
    return plot;
}

constexpr double kPointsPerMm = 72.0 / 25.4;

} // namespace

TEST(PageLayoutTest, PapersAndFormatsByName)
{
    double width = 0;
    double height = 0;
    ASSERT_TRUE(genplot::render::ParsePaper("A4", &width, &height));
    EXPECT_EQ(width, 210);
    EXPECT_EQ(height, 297);
    ASSERT_TRUE(genplot::render::ParsePaper("a0", &width, &height));
    EXPECT_EQ(height, 1189);
    ASSERT_TRUE(genplot::render::ParsePaper("Ledger", &width, &height));
    EXPECT_DOUBLE_EQ(width, 279.4);
    ASSERT_TRUE(genplot::render::ParsePaper("914.4x600mm", &width, &height));
    EXPECT_DOUBLE_EQ(width, 914.4);
    EXPECT_DOUBLE_EQ(height, 600);
    for (const char* wrong : {"", "A5", "x10mm", "10x", "10x10", "-5x10mm", "0x10mm", "10x10cm",
                              "1e3x10mm", "10 x 10mm"})
    {
        EXPECT_FALSE(genplot::render::ParsePaper(wrong, &width, &height)) << wrong;
    }

    Format format = Format::Svg;
    ASSERT_TRUE(genplot::render::FormatFromFileName("out/plot.PDF", &format));
    EXPECT_EQ(format, Format::Pdf);
    ASSERT_TRUE(genplot::render::FormatFromFileName("plot.png", &format));
    EXPECT_EQ(format, Format::Png);
    EXPECT_FALSE(genplot::render::FormatFromFileName("plot.pdf/x", &format));
    EXPECT_FALSE(genplot::render::FormatFromFileName("plot", &format));
    EXPECT_FALSE(genplot::render::FormatFromFileName("plot.eps", &format));
}

TEST(PageLayoutTest, FitCentresThePlotOnTheTurnedPaper)
{
    RenderOptions options;
    options.paperWidthMm = 210;
    options.paperHeightMm = 297;
    options.landscape = true;
    PagePlan plan;
    ASSERT_TRUE(PlanPages(Square(1000), options, Format::Pdf, &plan, nullptr));
    EXPECT_NEAR(plan.pageWidth, 297 * kPointsPerMm, 1e-9);
    EXPECT_NEAR(plan.pageHeight, 210 * kPointsPerMm, 1e-9);
    // The printable height, 190 mm, limits the square.
    EXPECT_NEAR(plan.scale * 1000, 190 * kPointsPerMm, 1e-9);
    EXPECT_NEAR(plan.offsetX, (297 - 190) / 2.0 * kPointsPerMm, 1e-9);
    EXPECT_NEAR(plan.offsetY - 1000 * plan.scale, 10 * kPointsPerMm, 1e-9);
    EXPECT_EQ(plan.columns * plan.rows, 1);
}

TEST(PageLayoutTest, TrueScaleFitsTilesOrFails)
{
    RenderOptions options;
    options.paperWidthMm = 210;
    options.paperHeightMm = 297;
    options.trueScale = true; // 0.025 mm a unit
    PagePlan plan;
    ASSERT_TRUE(PlanPages(Square(7600), options, Format::Pdf, &plan, nullptr)); // 190 mm
    EXPECT_NEAR(plan.scale, 0.025 * kPointsPerMm, 1e-12);
    EXPECT_FALSE(plan.tiled);

    std::string error;
    EXPECT_FALSE(PlanPages(Square(7800), options, Format::Pdf, &plan, &error));
    EXPECT_NE(error.find("195 x 195 mm"), std::string::npos) << error;

    options.tile = true;
    ASSERT_TRUE(PlanPages(Square(7800), options, Format::Pdf, &plan, &error)) << error;
    EXPECT_TRUE(plan.tiled);
    EXPECT_EQ(plan.columns, 2);
    EXPECT_EQ(plan.rows, 1);
    // Exactly the printable width (190 mm) needs one column, not two.
    ASSERT_TRUE(PlanPages(Square(7600), options, Format::Pdf, &plan, &error)) << error;
    EXPECT_EQ(plan.columns * plan.rows, 1);
    EXPECT_FALSE(PlanPages(Square(7800), options, Format::Png, &plan, &error));
}

TEST(PageLayoutTest, WithoutPaperTheSmallestLabelIsReadable)
{
    genplot::PlotFile plot = Square(40000);
    genplot::PlotFileAnnotation label;
    label.text = "small";
    label.textHeight = 140;
    plot.looseAnnotations.push_back(label);
    RenderOptions options;
    PagePlan plan;
    ASSERT_TRUE(PlanPages(plot, options, Format::Png, &plan, nullptr));
    // 12 pixels of text height.
    EXPECT_NEAR(140 * plan.scale * plan.pixelsPerPoint, 12, 1e-9);
    // Without labels: 1600 pixels on the longer side; a PNG too large to draw is refused.
    plot.looseAnnotations.clear();
    ASSERT_TRUE(PlanPages(plot, options, Format::Png, &plan, nullptr));
    EXPECT_NEAR(plan.pageWidth * plan.pixelsPerPoint, 1600, 1e-6);
    options.dpi = 10000;
    options.paperWidthMm = 841;
    options.paperHeightMm = 1189;
    std::string error;
    EXPECT_FALSE(PlanPages(plot, options, Format::Png, &plan, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
}
