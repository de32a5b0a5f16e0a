#pragma once

// The writer's floor: the bytes of a generic plot file, encoded again from the plot's lists
// with nothing but what the format needs. Every offset is worked out before the first byte is
// written, so each record goes out in exactly one fwrite, and nothing is sought or patched.
//
// It is written from the file layout, independently of CGenPlot, and the benchmarks check that
// both produce the same bytes before comparing their speed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class CPlotInfo;
struct CPlotConfig;

namespace genplot::bench
{

/// The points of every polyline the file holds, copied once into one flat array in file order
/// (piece by piece: the outline, then the non-perimeter lines): what a writer would walk if
/// the plot kept its points contiguous instead of in lists of heap objects.
struct FlatPoints
{
    std::vector<std::int32_t> xy;  // x, y of every point, line after line
    std::vector<std::size_t> ends; // for each line, the index in `xy` where it ends
};
FlatPoints FlattenPoints(const CPlotInfo& plot);

/// Writes the file CGenPlot writes for Initialize(`sourceName`, `config`) and
/// write_plot_file(..., penTable null) on an uncancelled run. Returns the bytes written.
/// With `flat` (from FlattenPoints of the same plot) the polylines' points come from it rather
/// than from the lines' lists; everything else is encoded from the plot in both cases.
std::uint64_t WritePackedFloor(std::FILE* file, const CPlotInfo& plot, const char* sourceName,
                               const CPlotConfig& config, const FlatPoints* flat = nullptr);

} // namespace genplot::bench
