#pragma once

// Writing a decoded plot file as a plotter program. One plot unit is one plotter unit
// (0.025 mm), the coordinates are written as the file holds them, so a plot imported from
// HP-GL goes back to the same places. Every stroke is drawn with a pen change per pen-mode
// record of its piece (pens 1 to 8 in turn within a piece) and a line type per line-type
// record (solid or dashed), in an order that brings each line back into its piece when the
// program is converted again; then the labels, each with its height, direction and origin.

#include "genplot/plot_file_reader.h"

#include <cstdio>

namespace genplot::render
{

/// The plotter language written.
enum class HpglDialect
{
    /// HP-GL/2: BP, IN, PS from the extents, polylines as PE encoded polylines, labels
    /// placed by LO.
    Hpgl2,
    /// Plain HP-GL for older pen plotters: IN, PU/PD coordinate lists, labels placed at the
    /// left end of their baselines.
    Hpgl1,
};

/// Writes the plot as HP-GL/2 (or plain HP-GL) to out; false when a write fails.
bool ExportHpgl(const genplot::PlotFile& plot, std::FILE* out, HpglDialect dialect);

} // namespace genplot::render
