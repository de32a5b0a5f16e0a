#pragma once

#include <csignal>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class CPlotInfo;

// The HP-GL importer: reads an HP-GL or HP-GL/2 plot file and acts as the library's host,
// pouring strokes and labels into a CPlotInfo. One plotter unit is one plot unit.

namespace genplot::tool
{

/// Coordinates are clamped to this magnitude (plot units), so every sum and difference the
/// library forms from them, label extents included, stays inside 32 bits.
inline constexpr long kMaxCoordinate = (1L << 28) - 1;
/// Largest pen number accepted by SP and PW.
inline constexpr int kMaxPen = 32767;
/// Largest text height and line width, in plot units.
inline constexpr long kMaxTextHeight = 1L << 20;
inline constexpr long kMaxLineWidth = 1L << 20;
/// The plot file counts annotations in 16 bits.
inline constexpr std::size_t kMaxLabels = 65535;

struct HpglImportOptions
{
    /// P1 and P2 in plotter units until the file sets them with IP (or after IN / IP;).
    double p1x = 603.0;
    double p1y = 521.0;
    double p2x = 10603.0;
    double p2y = 7721.0;
    /// Upper bound on the points the plot will hold, counting each wide line's thickening
    /// strokes too; a larger drawing is refused.
    std::size_t maxPoints = 10000000;
    /// When not null and set non-zero (by a signal handler), the import stops with
    /// HpglInterrupted.
    const volatile std::sig_atomic_t* interrupt = nullptr;
};

struct HpglImportReport
{
    std::size_t commands = 0;
    std::size_t strokes = 0;
    std::size_t points = 0;
    std::size_t labels = 0;
    /// Commands read but not implemented, by mnemonic (unknown mnemonics included).
    std::map<std::string, std::size_t> notImplemented;
    std::size_t rightAlignedLabels = 0;
    std::size_t unsupportedOriginLabels = 0;
    std::size_t mirroredLabels = 0;
    std::size_t textPathLabels = 0;
    /// Labels longer than the 511 characters a plot file keeps.
    std::size_t truncatedLabels = 0;
    std::size_t noPenStrokes = 0;
    std::size_t noPenLabels = 0;
    std::size_t clampedCoordinates = 0;
    std::size_t damagedEncoded = 0;
    std::size_t invalidParameters = 0;
    std::size_t junkBytes = 0;
    bool unterminatedLabel = false;

    /// One line per kind of thing that was skipped or approximated; empty when nothing was.
    std::vector<std::string> Notes() const;
};

/// The input is not HP-GL, or too large to convert; the message is one line.
class HpglInputError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

/// The import was stopped through HpglImportOptions::interrupt.
class HpglInterrupted : public std::runtime_error
{
  public:
    HpglInterrupted() : std::runtime_error("interrupted")
    {
    }
};

/// Throws HpglInputError when `input` is not HP-GL at all: empty, binary data, or no
/// HP-GL command in it.
void CheckHpglInput(std::string_view input);

/// Imports `input` into `plot`: checks it (CheckHpglInput), then runs every command and ends
/// the last stroke. The plot is left as the commands made it; FinalizePlotInfo is the
/// caller's. May throw HpglInputError, HpglInterrupted and the library's CMemoryException*.
void ImportHpgl(std::string_view input, CPlotInfo& plot, const HpglImportOptions& options,
                HpglImportReport& report);

} // namespace genplot::tool
