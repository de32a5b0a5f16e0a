#include "geometry/line_seg.h"
#include "geometry/perim.h"
#include "plotinfo/plot_info.h"
#include "render/hpgl_export_plan_internal.h"

#include <cmath>
#include <cstdlib>

// A wide line reaches the file as its own points plus the parallel strokes that the plot's
// fat-line pass drew for it, put at the head of its piece's lines: first the outline's, then
// those of each line from the last to the first, the outermost pair first. Drawing those
// strokes as thin lines would not bring them back where they were (they leave the piece's
// box, and a stroke of an outline can close into a piece of its own), so a line whose strokes
// the pass redraws exactly from some width is drawn with that pen width instead, as a plotter
// draws a wide pen, and the importer's own pass makes the same strokes again. The pass itself
// decides: each width tried is run through it.

namespace genplot::detail
{
namespace
{

constexpr long long kMaxWidth = 1LL << 20;
// How far the half width is looked for around the one measured from the outermost stroke
// (whose points are truncated toward zero).
constexpr long long kHalfWidthSlack = 2;

// The strokes the fat-line pass draws for a line of these points and this width, in the
// order it puts them at the head of the piece's lines.
std::vector<std::vector<PlotFilePoint>> PassStrokes(const std::vector<PlotFilePoint>& points,
                                                    int width)
{
    CPlotInfo plot;
    auto* piece = new CPerim;
    plot.pieces.AddTail(piece);
    piece->outline.lineWidth = width;
    for (const PlotFilePoint& point : points)
    {
        CCoord coord(point.x, point.y);
        piece->outline.AddPoint(&coord);
        piece->box.Update(coord);
    }
    plot.FinalizePlotInfo();
    std::vector<std::vector<PlotFilePoint>> strokes;
    for (POSITION at = piece->nonPerimeterLines.GetHeadPosition(); at != nullptr;)
    {
        auto* stroke = static_cast<CLineSeg*>(piece->nonPerimeterLines.GetNext(at));
        std::vector<PlotFilePoint>& out = strokes.emplace_back();
        for (POSITION p = stroke->GetHeadPosition(); p != nullptr;)
        {
            const CCoord* coord = stroke->GetNextPoint(p);
            out.push_back(
                {static_cast<std::int32_t>(coord->x), static_cast<std::int32_t>(coord->y)});
        }
    }
    return strokes;
}

double Distance(const PlotFilePoint& a, const PlotFilePoint& b)
{
    return std::hypot(static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y);
}

class WidthFinder
{
  public:
    WidthFinder(const PlotFile& plot, std::vector<PlannedLine>& lines) : plot_(plot), lines_(lines)
    {
    }

    // Gives each line whose strokes lead the piece's lines its width and returns how many
    // lines at the head (after the outline) are such strokes.
    std::size_t Run(int inset)
    {
        if (lines_.size() < 2)
        {
            return 0;
        }
        std::size_t head = 1; // the outline is lines_[0]
        // The outline first, then the lines from the last down, as long as they can still be
        // lines the pass found rather than its strokes.
        if (Match(0, head, inset))
        {
            head += 2 * strokePairs_;
        }
        for (std::size_t candidate = lines_.size() - 1; candidate >= head; --candidate)
        {
            if (Match(candidate, head, inset))
            {
                head += 2 * strokePairs_;
            }
        }
        return head - 1;
    }

  private:
    // Whether the strokes of line `candidate`, with some width, are the lines from `head` on.
    bool Match(std::size_t candidate, std::size_t head, int inset)
    {
        if (head >= lines_.size() || head == candidate)
        {
            return false;
        }
        const std::vector<PlotFilePoint> points = LinePoints(plot_, lines_[candidate]);
        const std::vector<PlotFilePoint> outer = LinePoints(plot_, lines_[head]);
        if (points.size() < 2 || outer.empty())
        {
            return false;
        }
        // The outermost stroke lies at half - inset from both ends of the line.
        const double reach = Distance(outer.front(), points.front());
        if (std::fabs(Distance(outer.back(), points.back()) - reach) > 2.0 * kHalfWidthSlack)
        {
            return false;
        }
        const long long measured = std::llround(reach) + inset;
        for (long long half = measured - kHalfWidthSlack; half <= measured + kHalfWidthSlack;
             ++half)
        {
            if (half <= 0 || 2 * half > kMaxWidth)
            {
                continue;
            }
            const auto width = static_cast<int>(2 * half);
            const std::vector<std::vector<PlotFilePoint>> strokes = PassStrokes(points, width);
            if (strokes.empty() || head + strokes.size() > lines_.size() ||
                (candidate >= head && candidate < head + strokes.size()))
            {
                continue;
            }
            bool same = true;
            for (std::size_t s = 0; s < strokes.size() && same; ++s)
            {
                same = StartsWith(LinePoints(plot_, lines_[head + s]), strokes[s], true);
            }
            if (same)
            {
                lines_[candidate].width = width;
                strokePairs_ = strokes.size() / 2;
                return true;
            }
        }
        return false;
    }

    const PlotFile& plot_;
    std::vector<PlannedLine>& lines_;
    std::size_t strokePairs_ = 0;
};

} // namespace

std::size_t FindLineWidths(const PlotFile& plot, std::vector<PlannedLine>& lines)
{
    const CPlotInfo defaults;
    return WidthFinder(plot, lines).Run(defaults.fatLineInset);
}

} // namespace genplot::detail
