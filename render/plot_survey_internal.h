#pragma once

// Reading a plot file for a picture without holding its points: the first reading measures,
// each later one draws, and a later reading must find the file the first one measured.

#include "genplot/plot_file_reader.h"
#include "render/page_layout_internal.h"
#include "render/render.h"

namespace genplot::detail
{

/// The survey's point box as bounds.
PlotBounds PointBounds(const render::PlotSurvey& survey);

/// True when two readings of a file agree on everything but the pieces' records: status,
/// problem, size, header, markers, piece table entries and section offsets, labels and end.
bool SameOutline(const PlotFile& first, const PlotFile& second);

} // namespace genplot::detail
