#pragma once

// Drawing a decoded plot file as a picture: PDF, PNG or SVG, one drawing model for all three.
// Pieces are drawn as their records say (outline thicker than the lines, every pen change in
// its own colour, broken line types dashed, the strokes the fat-line pass added as drawn);
// labels are set in DejaVu Sans Mono, placed, turned and stretched to the text block whose box
// the library stores as the label's extent.
//
// The plot is drawn straight onto the output surface piece by piece; nothing but the surface
// itself is built, and the output goes to the stream as the surface produces it.

#include "genplot/plot_file_reader.h"

#include <cstdio>
#include <string>

namespace genplot::render
{

/// The picture's file format.
enum class Format
{
    Pdf,
    Png,
    Svg,
};

/// How the plot is put on the page.
struct RenderOptions
{
    /// Paper width and height in millimetres; 0 and 0 for no paper: the page is then the plot's own
    /// box with a margin, sized as `sizePixels` says.
    double paperWidthMm = 0;
    /// See paperWidthMm.
    double paperHeightMm = 0;
    /// Turns a portrait paper to landscape (the longer side across).
    bool landscape = false;
    /// True scale instead of fitting the plot to the page: one plot unit is `unitMm`.
    bool trueScale = false;
    /// Length of one plot unit in millimetres at true scale (0.025: one HP-GL plotter unit).
    double unitMm = 0.025;
    /// PNG pixels per inch; PDF and SVG pages are in points and ignore it.
    double dpi = 96;
    /// Without paper: the longer side of the page in pixels at `dpi`; 0 chooses a size at
    /// which the plot's smallest label is readable.
    int sizePixels = 0;
    /// True scale on paper too small for the plot: several PDF pages with crop marks instead
    /// of a failure.
    bool tile = false;
    /// Everything in black instead of a colour per pen.
    bool mono = false;
    /// Also draws piece boxes and label extents as thin dotted rectangles.
    bool boxes = false;
};

/// Writes `plot` as a picture in `format` to `out`, which stays open. Works on whatever `plot`
/// holds, so a cancelled file draws what was written. Returns false, with a one-line reason
/// in `*error` (may be null), when the options do not fit the plot (true scale on paper too
/// small without `tile`, tiles asked of a PNG or SVG, a page too large to draw) or a write
/// fails.
bool RenderPlot(const PlotFile& plot, const RenderOptions& options, Format format, std::FILE* out,
                std::string* error);

/// As RenderPlot, to the file at `path`, created or replaced.
bool RenderPlotToPath(const PlotFile& plot, const RenderOptions& options, Format format,
                      const std::string& path, std::string* error);

/// A plot file read once for its layout without keeping its points: what LoadPlotFile returns
/// with every piece's records empty, and the box the pieces' points occupy.
struct PlotSurvey
{
    /// The file as read; check its status before drawing it.
    PlotFile file;
    /// True when the pieces hold at least one point; `points` is then their box.
    bool hasPoints = false;
    /// See hasPoints.
    PlotFileBox points;
};

/// Reads the file at `path` piece by piece, holding one piece's points at a time.
PlotSurvey SurveyPlotFile(const std::string& path);

/// How RenderPlotFile ended.
enum class RenderOutcome
{
    /// The picture was written.
    Drawn,
    /// The plot file could not be read again, or it is no longer the file surveyed.
    ReadFailed,
    /// The options do not fit the plot, or drawing or writing failed.
    DrawFailed,
};

/// Writes the plot file at `path`, which `survey` describes, as RenderPlot writes it once
/// loaded, reading the file again piece by piece (once a page) and drawing each piece as it
/// arrives, so that the points of the plot are never all held at once. A file that is no
/// longer the one surveyed (its status, header, piece table, labels or the box of its points
/// differ) is not drawn: ReadFailed with a one-line reason; the picture written to `out` so
/// far is then incomplete and must be thrown away.
RenderOutcome RenderPlotFile(const PlotSurvey& survey, const std::string& path,
                             const RenderOptions& options, Format format, std::FILE* out,
                             std::string* error);

/// Frees the font and glyph caches that drawing keeps for reuse (cairo's and the font
/// configuration's), so that a leak checker at exit finds nothing held. Call it once, when the
/// process has finished drawing and no other thread draws.
void ReleaseDrawingCaches();

/// Reads a paper name (A0 to A4, letter, ledger, any case; portrait) or "WIDTHxHEIGHTmm"
/// (as given) into millimetres. Returns false for anything else.
bool ParsePaper(const std::string& text, double* widthMm, double* heightMm);

/// The format a file name's extension names (.pdf, .png, .svg, any case); false for others.
bool FormatFromFileName(const std::string& path, Format* format);

} // namespace genplot::render
