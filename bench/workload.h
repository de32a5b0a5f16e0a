#pragma once

// The fixed synthetic plot every benchmark and the byte-identity test work on. It is produced
// as plain data first (points, stroke attributes, label fields), so that generating it never
// counts against the library, and then poured into a CPlotInfo the way a host does.
//
// The generator uses its own PRNG and integer arithmetic only, so the same seed gives the same
// plot with every compiler, standard library and floating-point setting.

#include <cstdint>
#include <string>
#include <vector>

class CPlotInfo;

namespace genplot::bench
{

/// splitmix64: tiny, fast, and fully specified, unlike the std:: distributions.
class Random
{
  public:
    explicit Random(std::uint64_t seed) : state_(seed)
    {
    }
    std::uint64_t Next();
    /// Uniform in [low, high], both included (high - low below 2^32).
    std::int32_t Range(std::int32_t low, std::int32_t high);
    /// True with probability percent / 100.
    bool Chance(int percent);

  private:
    std::uint64_t state_;
};

struct Point
{
    std::int32_t x;
    std::int32_t y;
};

enum class StrokeKind : std::uint8_t
{
    Outline,  // closed: its last point equals its first
    Interior, // open, inside an outline's box
    Wide,     // open, wider than the stroke spacing
};

/// One stroke as the host sends it: the points `points[first .. first + count)`.
struct Stroke
{
    std::uint32_t first;
    std::uint32_t count;
    std::int32_t pen;
    std::int32_t lineType;
    std::int32_t width;
    StrokeKind kind;
};

struct Label
{
    std::int32_t justification;
    std::int32_t textHeight;
    std::int32_t directionX;
    std::int32_t directionY;
    Point position;
    std::string text; // lines separated by "\r\n"
};

/// The plot, in the order the host sends it.
struct Workload
{
    std::vector<Point> points;
    std::vector<Stroke> strokes;
    std::vector<Label> labels;

    std::uint64_t outlineCount = 0;
    std::uint64_t outlinePoints = 0;
    std::uint64_t interiorCount = 0;
    std::uint64_t interiorPoints = 0;
    std::uint64_t wideCount = 0;
    std::uint64_t widePoints = 0;
    /// Text height passed to CPlotInfo::Initialize; about half the labels use it.
    std::int32_t defaultTextHeight = 0;
};

/// The parameters of the benchmark plot. Changing any of them changes the file the identity
/// test pins down.
struct WorkloadShape
{
    int outlines = 500;          // closed outlines of 50-400 points
    int interiorStrokes = 20000; // open strokes inside the outlines' boxes
    int interiorPoints = 50;     // points per interior stroke
    int wideLines = 2000;        // widths 150-800, half gentle turns, half sharp
    int widePoints = 25;         // points per wide line
    int labels = 5000;           // one to three lines each, several directions
};

inline constexpr std::uint64_t kWorkloadSeed = 0x67656E706C6F7431ull; // "genplot1"

/// Generates the plot; the same shape and seed always give the same data.
Workload MakeWorkload(const WorkloadShape& shape = WorkloadShape(),
                      std::uint64_t seed = kWorkloadSeed);

/// The benchmark plot, generated once per process.
const Workload& StandardWorkload();

/// `Initialize` with a fixed configuration, as a host does before the first stroke.
void InitializePlot(const Workload& workload, CPlotInfo& plot);
/// Pours every stroke into the plot: pen, line type and width set, `AddPoint` per point,
/// `CheckForClosure` per stroke. Returns the number of points sent.
std::uint64_t FeedStrokes(const Workload& workload, CPlotInfo& plot);
/// Pours one stroke of the workload into the plot, as FeedStrokes does for each.
void FeedStroke(const Workload& workload, const Stroke& stroke, CPlotInfo& plot);
/// Allocates every label and appends it to `looseLabels`.
void AppendLabels(const Workload& workload, CPlotInfo& plot);
/// InitializePlot, FeedStrokes and AppendLabels: the plot as a host hands it to finalisation.
void BuildPlot(const Workload& workload, CPlotInfo& plot);

/// Points the plot holds: outlines and every line in a piece, plus loose lines and the current
/// line. Walks the lists.
std::uint64_t CountStoredPoints(const CPlotInfo& plot);

} // namespace genplot::bench
