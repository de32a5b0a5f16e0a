#pragma once

// The text block of a label as the library measures it when it computes the label's extent:
// a character is one text height wide, lines are 1.5 heights apart growing down from the
// first, and the block's top edge is one height above the anchor (justification 1), half a
// height above it (2), or half a height above it with the block centred on the longest line
// (5); every other code is placed as 1. The block is turned about the anchor by
// atan2(directionY, directionX), counter-clockwise with y up.

#include "genplot/plot_file_reader.h"

#include <string_view>
#include <vector>

namespace genplot::detail
{

/// The lines of a label text as the extent computation measures them: a line runs up to the
/// next "\r", and the byte after the "\r" is skipped; a text ending in "\r" (or "\r\n") has
/// an empty last line. An empty text has no lines.
std::vector<std::string_view> SplitLabelLines(std::string_view text);

/// One line of a laid-out label, in the label's own frame (origin at the anchor, x along the
/// text direction, y up across it), in plot units.
struct LabelLineLayout
{
    /// The line's bytes (a view into the label's text).
    std::string_view text;
    /// Left end of the line's baseline, along the text direction.
    double x = 0;
    /// Left end of the line's baseline, across the text direction.
    double y = 0;
};

/// A label's block: its lines, its turn and its character size.
struct LabelLayout
{
    /// The text height (absolute value of the stored one), which is also a character's width.
    double height = 0;
    /// Cosine and sine of the text direction.
    double cosine = 1;
    /// See cosine.
    double sine = 0;
    /// The lines in order.
    std::vector<LabelLineLayout> lines;
};

/// Lays out `label` as the extent computation does.
LabelLayout LayOutLabel(const PlotFileAnnotation& label);

/// A point of the label's own frame in plot coordinates.
void LabelToPlot(const PlotFileAnnotation& label, const LabelLayout& layout, double x, double y,
                 double* plotX, double* plotY);

} // namespace genplot::detail
