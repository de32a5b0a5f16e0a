#pragma once

// The drawing model shared by every format: one page (or tile) of a plot drawn onto a cairo
// context whose user space is the page in points, y down.

#include "genplot/plot_file_reader.h"
#include "render/page_layout_internal.h"
#include "render/render.h"

#include <cairo.h>
#include <functional>
#include <string>
#include <string_view>

namespace genplot::detail
{

/// Label bytes as UTF-8 that any font machinery accepts: valid UTF-8 sequences keep their
/// characters, every other byte is taken as Latin-1, and control bytes become the visible
/// control pictures (U+2400...).
std::string LabelTextToUtf8(std::string_view bytes);

/// Draws one piece; given to a PieceSource.
using PieceDrawer = std::function<void(const PlotFilePiece&)>;
/// Hands the pieces of a plot, in order, to the drawer; false when it could not hand them all.
using PieceSource = std::function<bool(const PieceDrawer&)>;

/// Draws tile (column, row) of `plot` as `plan` places it: a white page, the pieces `pieces`
/// hands over, the labels of `plot`, and on tiled pages the crop marks. The page is finished
/// either way; returns what `pieces` returned.
bool DrawPlotPage(cairo_t* cr, const PlotFile& plot, const render::RenderOptions& options,
                  const PagePlan& plan, int column, int row, const PieceSource& pieces);

/// As above with the pieces of `plot` itself.
void DrawPlotPage(cairo_t* cr, const PlotFile& plot, const render::RenderOptions& options,
                  const PagePlan& plan, int column, int row);

} // namespace genplot::detail
