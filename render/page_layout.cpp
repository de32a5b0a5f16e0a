#include "render/page_layout_internal.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace genplot::detail
{
namespace
{

// The printable area's distance from the paper's edges (room for crop marks when tiling).
constexpr double kPaperMarginMm = 10.0;
// Without paper, the page is the plot's box with this fraction of its longer side around it.
constexpr double kPlotMargin = 0.05;
// Without paper and without a size, the page is made large enough that the smallest label's
// text height is this many pixels, within the limits below.
constexpr double kReadableTextPixels = 12.0;
constexpr double kSmallestPagePixels = 800.0;
constexpr double kLargestPagePixels = 4000.0;
constexpr double kPagePixelsWithoutLabels = 1600.0;
// The largest page a PDF viewer is bound to accept (200 inches), and the largest image cairo
// draws (32767 pixels a side) with a ceiling on its memory (4 bytes a pixel).
constexpr double kLargestPdfPagePoints = 14400.0;
constexpr double kLargestImageSide = 32767.0;
constexpr double kLargestImagePixels = 400.0e6;

std::string Millimetres(double points)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", points / kPointsPerMm);
    return text;
}

double SmallestTextHeight(const PlotFile& plot)
{
    double smallest = 0;
    for (const auto* section : {&plot.looseAnnotations, &plot.pieceAnnotations})
    {
        for (const PlotFileAnnotation& label : *section)
        {
            const double height = std::fabs(static_cast<double>(label.textHeight));
            if (height > 0 && !label.text.empty() && (smallest == 0 || height < smallest))
            {
                smallest = height;
            }
        }
    }
    return smallest;
}

} // namespace

void PlotBounds::Add(double x, double y)
{
    if (empty)
    {
        minX = maxX = x;
        minY = maxY = y;
        empty = false;
        return;
    }
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
}

void PlotBounds::Add(const PlotFileBox& box)
{
    if (box.lowerLeft.x <= box.upperRight.x && box.lowerLeft.y <= box.upperRight.y)
    {
        Add(box.lowerLeft.x, box.lowerLeft.y);
        Add(box.upperRight.x, box.upperRight.y);
    }
}

void PlotBounds::AddPoints(const PlotFilePiece& piece)
{
    for (const PlotPieceRecord& record : piece.records)
    {
        for (const PlotFilePoint& point : record.points)
        {
            Add(point.x, point.y);
        }
    }
}

PlotBounds MeasurePlot(const PlotFile& plot)
{
    PlotBounds points;
    for (const PlotFilePiece& piece : plot.pieces)
    {
        points.AddPoints(piece);
    }
    return MeasurePlot(plot, points);
}

// Minimum and maximum do not depend on the order things are added in, so measuring the
// points apart gives the very bounds measuring them with the rest does.
PlotBounds MeasurePlot(const PlotFile& plot, const PlotBounds& points)
{
    PlotBounds bounds;
    if (plot.hasHeader)
    {
        bounds.Add(plot.header.extents);
    }
    if (!points.empty)
    {
        bounds.Add(points.minX, points.minY);
        bounds.Add(points.maxX, points.maxY);
    }
    for (const auto* section : {&plot.looseAnnotations, &plot.pieceAnnotations})
    {
        for (const PlotFileAnnotation& label : *section)
        {
            bounds.Add(label.extent);
            bounds.Add(label.position.x, label.position.y);
        }
    }
    return bounds;
}

bool PlanPages(const PlotFile& plot, const render::RenderOptions& options, render::Format format,
               PagePlan* plan, std::string* error)
{
    return PlanPages(plot, MeasurePlot(plot), options, format, plan, error);
}

bool PlanPages(const PlotFile& plot, const PlotBounds& measured,
               const render::RenderOptions& options, render::Format format, PagePlan* plan,
               std::string* error)
{
    const auto fail = [error](const std::string& reason) {
        if (error != nullptr)
        {
            *error = reason;
        }
        return false;
    };
    if (!(options.dpi > 0 && options.dpi <= 10000))
    {
        return fail("the resolution must lie between 0 and 10000 dpi");
    }
    if (options.trueScale && !(options.unitMm > 0 && std::isfinite(options.unitMm)))
    {
        return fail("the unit length must be a positive number of millimetres");
    }
    if (options.tile && format != render::Format::Pdf)
    {
        return fail("only a PDF holds several pages; tiles need PDF output");
    }
    PlotBounds bounds = measured;
    if (bounds.empty)
    {
        bounds.Add(0, 0);
    }
    // A plot of no width or height still gets a page: one unit stands in for the empty side.
    const double width = std::max(bounds.maxX - bounds.minX, 1.0);
    const double height = std::max(bounds.maxY - bounds.minY, 1.0);
    PagePlan result;
    result.pixelsPerPoint = format == render::Format::Png ? options.dpi / 72.0 : 1.0;
    const bool paper = options.paperWidthMm > 0 && options.paperHeightMm > 0;

    if (!paper)
    {
        if (options.tile)
        {
            return fail("tiles need a paper size (--paper)");
        }
        const double margin = std::max(width, height) * kPlotMargin;
        const double viewWidth = width + 2 * margin;
        const double viewHeight = height + 2 * margin;
        if (options.trueScale)
        {
            result.scale = options.unitMm * kPointsPerMm;
        }
        else
        {
            double pixels = options.sizePixels;
            if (pixels <= 0)
            {
                const double smallest = SmallestTextHeight(plot);
                pixels = smallest > 0
                             ? std::max(viewWidth, viewHeight) * kReadableTextPixels / smallest
                             : kPagePixelsWithoutLabels;
                pixels = std::clamp(pixels, kSmallestPagePixels, kLargestPagePixels);
            }
            // Pixels at the chosen resolution, 96 per inch for the vector formats.
            const double pointsPerPixel =
                72.0 / (format == render::Format::Png ? options.dpi : 96.0);
            result.scale = pixels * pointsPerPixel / std::max(viewWidth, viewHeight);
        }
        result.pageWidth = viewWidth * result.scale;
        result.pageHeight = viewHeight * result.scale;
        result.offsetX = (margin - bounds.minX) * result.scale;
        result.offsetY = (margin + bounds.maxY) * result.scale;
    }
    else
    {
        double paperWidth = options.paperWidthMm * kPointsPerMm;
        double paperHeight = options.paperHeightMm * kPointsPerMm;
        if (options.landscape && paperWidth < paperHeight)
        {
            std::swap(paperWidth, paperHeight);
        }
        const double margin = kPaperMarginMm * kPointsPerMm;
        const double printWidth = paperWidth - 2 * margin;
        const double printHeight = paperHeight - 2 * margin;
        if (printWidth <= 0 || printHeight <= 0)
        {
            return fail("the paper is smaller than its " + Millimetres(2 * margin) +
                        " mm of margins");
        }
        result.pageWidth = paperWidth;
        result.pageHeight = paperHeight;
        result.scale = options.trueScale ? options.unitMm * kPointsPerMm
                                         : std::min(printWidth / width, printHeight / height);
        const double drawnWidth = width * result.scale;
        const double drawnHeight = height * result.scale;
        // A hair of slack: fitting computes the scale from these very sizes.
        const double slack = 1e-9 * std::max(printWidth, printHeight);
        if (drawnWidth <= printWidth + slack && drawnHeight <= printHeight + slack)
        {
            // Centred on the page.
            result.offsetX = (paperWidth - drawnWidth) / 2 - bounds.minX * result.scale;
            result.offsetY = (paperHeight - drawnHeight) / 2 + bounds.maxY * result.scale;
        }
        else if (!options.tile)
        {
            return fail("the plot is " + Millimetres(drawnWidth) + " x " +
                        Millimetres(drawnHeight) + " mm at true scale and does not fit the " +
                        Millimetres(printWidth) + " x " + Millimetres(printHeight) +
                        " mm printable area; --tile prints it on several pages");
        }
        else
        {
            result.tiled = true;
            result.margin = margin;
            result.tileWidth = printWidth;
            result.tileHeight = printHeight;
            const double columns = std::ceil(drawnWidth / printWidth - 1e-9);
            const double rows = std::ceil(drawnHeight / printHeight - 1e-9);
            if (columns * rows > 10000)
            {
                return fail("the plot would take " + std::to_string(columns * rows) +
                            " pages; choose larger paper or --fit");
            }
            result.columns = static_cast<int>(std::max(columns, 1.0));
            result.rows = static_cast<int>(std::max(rows, 1.0));
            result.offsetX = margin - bounds.minX * result.scale;
            result.offsetY = margin + bounds.maxY * result.scale;
        }
    }

    if (format == render::Format::Pdf &&
        std::max(result.pageWidth, result.pageHeight) > kLargestPdfPagePoints)
    {
        return fail("a " + Millimetres(result.pageWidth) + " x " + Millimetres(result.pageHeight) +
                    " mm page is larger than PDF allows (5080 mm); use --paper with --tile or "
                    "--fit");
    }
    if (format == render::Format::Png)
    {
        const double pixelsWide = std::ceil(result.pageWidth * result.pixelsPerPoint);
        const double pixelsHigh = std::ceil(result.pageHeight * result.pixelsPerPoint);
        if (pixelsWide > kLargestImageSide || pixelsHigh > kLargestImageSide ||
            pixelsWide * pixelsHigh > kLargestImagePixels)
        {
            return fail("a " + std::to_string(static_cast<long long>(pixelsWide)) + " x " +
                        std::to_string(static_cast<long long>(pixelsHigh)) +
                        " pixel image is too large to draw; lower --dpi or --size");
        }
    }
    *plan = result;
    return true;
}

} // namespace genplot::detail
