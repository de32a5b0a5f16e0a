#pragma once

// The drawing model shared by every format: one page (or tile) of a plot drawn onto a cairo
// context whose user space is the page in points, y down.

#include "genplot/plot_file_reader.h"
#include "render/page_layout_internal.h"
#include "render/render.h"

#include <cairo.h>
#include <string>
#include <string_view>

namespace genplot::detail
{

/// Label bytes as UTF-8 that any font machinery accepts: valid UTF-8 sequences keep their
/// characters, every other byte is taken as Latin-1, and control bytes become the visible
/// control pictures (U+2400...).
std::string LabelTextToUtf8(std::string_view bytes);

/// Draws tile (column, row) of `plot` as `plan` places it: a white page, the pieces, the labels,
/// and on tiled pages the crop marks.
void DrawPlotPage(cairo_t* cr, const PlotFile& plot, const render::RenderOptions& options,
                  const PagePlan& plan, int column, int row);

} // namespace genplot::detail
