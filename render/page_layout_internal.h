#pragma once

// Where the plot goes on the page: the page size in points, the plot-to-page transform, and
// the grid of tiles when a true-scale plot is larger than the paper.

#include "genplot/plot_file_reader.h"
#include "render/render.h"

#include <string>

namespace genplot::detail
{

/// Points per millimetre.
inline constexpr double kPointsPerMm = 72.0 / 25.4;

/// The box everything in a plot occupies, in plot units.
struct PlotBounds
{
    /// True when the plot holds nothing with a place.
    bool empty = true;
    double minX = 0;
    double minY = 0;
    double maxX = 0;
    double maxY = 0;

    void Add(double x, double y);
    /// Adds a box unless it is empty (the library's sentinel has its corners crossed).
    void Add(const PlotFileBox& box);
    /// Adds every point of the piece's records.
    void AddPoints(const PlotFilePiece& piece);
};

/// The header's extents, every point and every label's extent and anchor.
PlotBounds MeasurePlot(const PlotFile& plot);

/// As MeasurePlot for a plot whose pieces' points were measured apart (into `points`) as
/// they were read; the pieces' records in `plot` are not looked at.
PlotBounds MeasurePlot(const PlotFile& plot, const PlotBounds& points);

/// The pages of a picture. Page coordinates are points, x right and y down; a plot point
/// (x, y) lands at (offsetX + x * scale, offsetY - y * scale) on the first tile's page, and on
/// tile (column, row) shifted left by column * tileWidth and up by row * tileHeight.
struct PagePlan
{
    double pageWidth = 0;
    double pageHeight = 0;
    /// Points per plot unit.
    double scale = 1;
    double offsetX = 0;
    double offsetY = 0;
    /// The tile grid; 1 x 1 when the plot fits one page.
    int columns = 1;
    int rows = 1;
    /// Tiled pages: the printable rectangle each page shows, at (margin, margin).
    bool tiled = false;
    double margin = 0;
    double tileWidth = 0;
    double tileHeight = 0;
    /// Device pixels per point (PNG: dpi / 72; PDF and SVG: 1).
    double pixelsPerPoint = 1;
};

/// Plans the pages for `plot`; false with a one-line reason when the options do not fit.
bool PlanPages(const PlotFile& plot, const render::RenderOptions& options, render::Format format,
               PagePlan* plan, std::string* error);

/// As above with the plot's bounds measured already (see MeasurePlot).
bool PlanPages(const PlotFile& plot, const PlotBounds& measured,
               const render::RenderOptions& options, render::Format format, PagePlan* plan,
               std::string* error);

} // namespace genplot::detail
