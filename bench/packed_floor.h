#pragma once

// The writer's floor: the bytes of a generic plot file, encoded again from the plot's lists
// with nothing but what the format needs. Every offset is worked out before the first byte is
// written, so each record goes out in exactly one fwrite, and nothing is sought or patched.
//
// It is written from the file layout, independently of CGenPlot, and the benchmarks check that
// both produce the same bytes before comparing their speed.

#include <cstdint>
#include <cstdio>

class CPlotInfo;
struct CPlotConfig;

namespace genplot::bench
{

/// Writes the file CGenPlot writes for Initialize(`sourceName`, `config`) and
/// write_plot_file(..., penTable null) on an uncancelled run. Returns the bytes written.
std::uint64_t WritePackedFloor(std::FILE* file, const CPlotInfo& plot, const char* sourceName,
                               const CPlotConfig& config);

} // namespace genplot::bench
