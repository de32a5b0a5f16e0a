#pragma once

// The order in which an exported plotter program writes the labels of a plot file. The file
// lists the labels piece by piece without saying where one piece's labels end; when the
// program is converted back, each label goes to the first piece whose box holds its anchor
// (else to the piece whose box's lower-left corner is nearest), and each label placed grows
// its piece's box at once, so a label can take a piece only after that piece's earlier
// labels have grown its box, or must come before another label whose growth would take it.

#include "genplot/plot_file_reader.h"

#include <cstddef>
#include <vector>

namespace genplot::detail
{

/// A box in plot units, wide enough that no sum or difference of corners overflows.
struct Box
{
    long long x0 = 0;
    long long y0 = 0;
    long long x1 = 0;
    long long y1 = 0;
    bool empty = true;

    void Grow(long long x, long long y);
    void Grow(const Box& other);
    /// Edges included; never for an empty box.
    bool Holds(long long x, long long y) const;
    /// The boxes share a point, edges included; never when either is empty.
    bool Meets(const Box& other) const;
    /// `other` lies inside this box (an empty `other` always does).
    bool Contains(const Box& other) const;
    bool operator==(const Box& other) const;
    /// Squared distance from the lower-left corner to the point, as the plot measures it.
    double DistanceSquared(const PlotFilePoint& point) const;
};

Box ToBox(const PlotFileBox& box);

/// Indexes into `plot.pieceAnnotations` in the order to write them. `outlineBoxes` are the
/// boxes of the pieces' outlines, `strokeBoxes` those of all their strokes. Where no order
/// found within the search's budget brings every label back into a piece whose final box is
/// the file's, the file order.
std::vector<std::size_t> OrderLabels(const PlotFile& plot, const std::vector<Box>& outlineBoxes,
                                     const std::vector<Box>& strokeBoxes);

} // namespace genplot::detail
