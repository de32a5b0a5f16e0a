#include "render/hpgl_export_plan_internal.h"
#include "render/hpgl_label_order_internal.h"

#include <algorithm>
#include <cstdint>
#include <limits>

// Strokes. With the pieces sorted by size, drawing them from the largest down, each outline
// followed by the lines it held when they ended, gives every such line the same pieces to
// meet as before: the larger pieces (already drawn) stand after it in size order, and a
// smaller piece that would take the line closes only later. Lines the piece received when
// the plot was finished (they ended before its outline closed, or met no piece) come last in
// the piece's list; they are drawn first of all, before any outline, so that they again meet
// no piece and are placed as before. Which of a piece's lines are which is not in the file;
// any split that sends each line where it was is as good, and the plan takes the last one.

namespace genplot::detail
{
namespace
{

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// A stroke closes into a piece only below this many points.
constexpr std::size_t kMaxOutlinePoints = 6000;

// Every line of a piece with its pen and line type; the outline first.
std::vector<PlannedLine> PieceLines(const PlotFile& plot, std::size_t pieceIndex)
{
    std::vector<PlannedLine> lines;
    int penIndex = 0;
    int lineType = 0;
    const std::vector<PlotPieceRecord>& records = plot.pieces[pieceIndex].records;
    for (std::size_t r = 0; r < records.size(); ++r)
    {
        const PlotPieceRecord& record = records[r];
        switch (record.type)
        {
        case RecordType::PenMode:
        case RecordType::PenModeOff:
            ++penIndex;
            break;
        case RecordType::LineType:
            lineType = record.lineTypeCode == 2 ? 2 : 0;
            break;
        case RecordType::Polyline:
            if (record.continuesPrevious && !lines.empty() &&
                lines.back().firstRecord + lines.back().recordCount == r)
            {
                ++lines.back().recordCount;
                lines.back().pointCount += static_cast<std::uint32_t>(
                    record.points.empty() ? 0 : record.points.size() - 1);
                break;
            }
            lines.push_back({static_cast<std::uint32_t>(pieceIndex), static_cast<std::uint32_t>(r),
                             1, static_cast<std::uint32_t>(record.points.size()), penIndex,
                             lineType, 0, 0});
            break;
        default:
            break;
        }
    }
    return lines;
}

template <class Visit> void ForEachPoint(const PlotFile& plot, const PlannedLine& line, Visit visit)
{
    const std::vector<PlotPieceRecord>& records = plot.pieces[line.piece].records;
    for (std::size_t r = line.firstRecord; r < line.firstRecord + line.recordCount; ++r)
    {
        for (const PlotFilePoint& point : records[r].points)
        {
            if (visit(point))
            {
                return;
            }
        }
    }
}

Box LineBox(const PlotFile& plot, const PlannedLine& line)
{
    Box box;
    ForEachPoint(plot, line, [&box](const PlotFilePoint& point) {
        box.Grow(point.x, point.y);
        return false;
    });
    return box;
}

// Whether a point of the line (whose box is `lineBox`) lies in `box`.
bool LineMeets(const PlotFile& plot, const PlannedLine& line, const Box& lineBox, const Box& box)
{
    if (!lineBox.Meets(box))
    {
        return false;
    }
    bool meets = false;
    ForEachPoint(plot, line, [&](const PlotFilePoint& point) {
        meets = box.Holds(point.x, point.y);
        return meets;
    });
    return meets;
}

// The first piece of `order` whose outline box holds a point of the line, or kNone.
std::size_t FirstMeeting(const PlotFile& plot, const PlannedLine& line,
                         const std::vector<Box>& boxes, const std::vector<std::size_t>& order)
{
    const Box lineBox = LineBox(plot, line);
    for (const std::size_t piece : order)
    {
        if (LineMeets(plot, line, lineBox, boxes[piece]))
        {
            return piece;
        }
    }
    return kNone;
}

bool IsClosed(const PlotFile& plot, const PlannedLine& line)
{
    if (line.pointCount < 3 || line.pointCount >= kMaxOutlinePoints)
    {
        return false;
    }
    const std::vector<PlotPieceRecord>& records = plot.pieces[line.piece].records;
    const PlotFilePoint& first = records[line.firstRecord].points.front();
    const PlotFilePoint& last = records[line.firstRecord + line.recordCount - 1].points.back();
    return first.x == last.x && first.y == last.y;
}

// The plot stores a stroke of more than 5999 points as chunks: chunk k holds its points
// 5999k to 5999k + 6000, so each chunk but the last has 6000 or 6001 points and the next
// starts with its points from index 5999 on (its tail). A chunk placed only when the plot is
// finished is stored once more by the same rule, so the piece also holds its tail as a line
// of its own right after it. Such runs of lines are drawn as the one stroke they were cut
// from, which the importer cuts the same way again.
constexpr std::uint32_t kChunkStep = 5999;

bool DrawnAlike(const PlannedLine& a, const PlannedLine& b)
{
    return a.penIndex == b.penIndex && a.lineType == b.lineType && a.width == b.width;
}

void JoinChunks(const PlotFile& plot, std::vector<PlannedLine>& lines)
{
    std::size_t chunk = 1;
    while (chunk < lines.size())
    {
        const std::size_t first = chunk;
        std::size_t next = chunk + 1;
        while (lines[chunk].pointCount > kChunkStep && next < lines.size() &&
               DrawnAlike(lines[chunk], lines[next]))
        {
            const std::vector<PlotFilePoint> points = LinePoints(plot, lines[chunk]);
            const std::vector<PlotFilePoint> tail(points.begin() + kChunkStep, points.end());
            const auto tailSize = static_cast<std::uint32_t>(tail.size());
            const std::vector<PlotFilePoint> following = LinePoints(plot, lines[next]);
            if (StartsWith(following, tail, true) && next + 1 < lines.size() &&
                DrawnAlike(lines[chunk], lines[next + 1]) &&
                StartsWith(LinePoints(plot, lines[next + 1]), tail, false))
            {
                // The tail stored again, then the next chunk.
                lines[first].arrival = ChunkArrival::Placed;
                lines[next].skip = tailSize;
                lines[next + 1].skip = tailSize;
                chunk = next + 1;
                next += 2;
            }
            else if (StartsWith(following, tail, false))
            {
                if (lines[first].arrival == ChunkArrival::NotCut)
                {
                    lines[first].arrival = ChunkArrival::Routed;
                }
                lines[next].skip = tailSize;
                chunk = next;
                ++next;
            }
            else
            {
                break;
            }
        }
        chunk = next;
    }
}

class Planner
{
  public:
    Planner(const PlotFile& plot, bool widths) : plot_(plot)
    {
        const std::size_t count = plot.pieces.size();
        lines_.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
        {
            lines_.push_back(PieceLines(plot, i));
            Box strokeBox;
            for (const PlannedLine& line : lines_.back())
            {
                strokeBox.Grow(LineBox(plot, line));
            }
            strokeBoxes_.push_back(strokeBox);
            if (widths)
            {
                std::vector<PlannedLine>& lines = lines_.back();
                const std::size_t strokes = FindLineWidths(plot, lines);
                lines.erase(lines.begin() + 1,
                            lines.begin() + 1 + static_cast<std::ptrdiff_t>(strokes));
            }
            JoinChunks(plot, lines_.back());
            outlineBoxes_.push_back(lines_.back().empty() ? Box()
                                                          : LineBox(plot, lines_.back().front()));
        }
    }

    ExportPlan Plan()
    {
        ExportPlan plan;
        if (!SortedBySize())
        {
            for (std::size_t i = 0; i < lines_.size(); ++i)
            {
                AddRun(plan, i, 0, lines_[i].size());
            }
        }
        else if (lines_.size() == 1 && !lines_[0].empty() && !IsClosed(plot_, lines_[0][0]))
        {
            // A piece made from the first loose line when nothing closed: drawn in order, it
            // is again the first loose line, and everything else goes into it in order.
            AddRun(plan, 0, 0, lines_[0].size());
        }
        else
        {
            PlanSortedPieces(plan);
        }
        plan.labels = OrderLabels(plot_, outlineBoxes_, strokeBoxes_);
        plan.pieceLines = std::move(lines_);
        return plan;
    }

  private:
    bool SortedBySize()
    {
        keys_.clear();
        for (const Box& box : outlineBoxes_)
        {
            keys_.push_back(box.empty ? -1 : 2 * std::llabs((box.x1 - box.x0) + (box.y1 - box.y0)));
        }
        return std::is_sorted(keys_.begin(), keys_.end());
    }

    // Whether the importer, with the lines of every piece drawn as planned, places line
    // `line` of piece `piece` when it ends (`routed`) or when the plot is finished.
    bool PlacedWhenFinished(const PlannedLine& line)
    {
        const std::size_t first = FirstMeeting(plot_, line, outlineBoxes_, allPieces_);
        return (first != kNone ? first : Nearest(line)) == line.piece;
    }

    std::size_t Nearest(const PlannedLine& line) const
    {
        const std::vector<PlotPieceRecord>& records = plot_.pieces[line.piece].records;
        const PlotFilePoint& point = records[line.firstRecord].points.front();
        std::size_t nearest = 0;
        double best = 0;
        for (std::size_t i = 0; i < outlineBoxes_.size(); ++i)
        {
            const double distance = outlineBoxes_[i].DistanceSquared(point);
            if (i == 0 || distance < best)
            {
                best = distance;
                nearest = i;
            }
        }
        return nearest;
    }

    void PlanSortedPieces(ExportPlan& plan)
    {
        const std::size_t count = lines_.size();
        allPieces_.clear();
        for (std::size_t i = 0; i < count; ++i)
        {
            allPieces_.push_back(i);
        }
        std::vector<LineRun> outlinesAndRouted;
        // From the largest size down; equal sizes in file order, as they closed.
        std::size_t end = count;
        std::vector<std::size_t> present; // pieces of larger sizes, in list order
        while (end > 0)
        {
            std::size_t begin = end - 1;
            while (begin > 0 && keys_[begin - 1] == keys_[end - 1])
            {
                --begin;
            }
            std::vector<std::size_t> sameSize;
            for (std::size_t i = begin; i < end; ++i)
            {
                sameSize.push_back(i);
                std::vector<std::size_t> order = sameSize;
                order.insert(order.end(), present.begin(), present.end());
                const std::size_t split = Split(i, order);
                outlinesAndRouted.push_back(Run(i, 0, split));
                AddRun(plan, i, split, lines_[i].size());
            }
            present.insert(present.begin(), sameSize.begin(), sameSize.end());
            end = begin;
        }
        plan.runs.insert(plan.runs.end(), outlinesAndRouted.begin(), outlinesAndRouted.end());
    }

    static LineRun Run(std::size_t piece, std::size_t begin, std::size_t end)
    {
        return {static_cast<std::uint32_t>(piece), static_cast<std::uint32_t>(begin),
                static_cast<std::uint32_t>(end)};
    }

    static void AddRun(ExportPlan& plan, std::size_t piece, std::size_t begin, std::size_t end)
    {
        if (begin < end)
        {
            plan.runs.push_back(Run(piece, begin, end));
        }
    }

    // The piece's lines 1 .. split-1 are drawn right after its outline, with the pieces of
    // `order` present; the rest before every outline. The last split that places every line
    // where it is; failing that, the one that places most.
    std::size_t Split(std::size_t piece, const std::vector<std::size_t>& order)
    {
        const std::vector<PlannedLine>& lines = lines_[piece];
        const std::size_t count = lines.size();
        // The strokes drawn: runs of lines each carrying on the one before.
        std::vector<std::size_t> starts;
        for (std::size_t l = 1; l < count; ++l)
        {
            if (lines[l].skip == 0)
            {
                starts.push_back(l);
            }
        }
        const std::size_t strokes = starts.size();
        if (strokes == 0)
        {
            return count;
        }
        std::vector<char> routed(strokes, 0);
        std::vector<char> finished(strokes, 1);
        std::vector<Box> lineBoxes;
        for (const PlannedLine& line : lines)
        {
            lineBoxes.push_back(LineBox(plot_, line));
        }
        for (std::size_t k = 0; k < strokes; ++k)
        {
            const std::size_t end = k + 1 < strokes ? starts[k + 1] : count;
            // The stroke is routed whole when it ends, by the first piece holding any point.
            for (const std::size_t candidate : order)
            {
                bool meets = false;
                for (std::size_t l = starts[k]; l < end && !meets; ++l)
                {
                    meets = LineMeets(plot_, lines[l], lineBoxes[l], outlineBoxes_[candidate]);
                }
                if (meets)
                {
                    routed[k] = candidate == piece;
                    break;
                }
            }
            // Loose, each of its chunks is placed on its own.
            for (std::size_t l = starts[k]; l < end; ++l)
            {
                finished[k] = finished[k] && PlacedWhenFinished(lines[l]);
            }
            // Chunks that came one by one must do so again, and those that came together.
            const ChunkArrival arrival = lines[starts[k]].arrival;
            routed[k] = routed[k] && arrival != ChunkArrival::Placed;
            finished[k] = finished[k] && arrival != ChunkArrival::Routed;
        }
        // right[k]: strokes k .. strokes-1 placed well when drawn first.
        std::vector<std::size_t> right(strokes + 1, 0);
        for (std::size_t k = strokes; k-- > 0;)
        {
            right[k] = right[k + 1] + (finished[k] ? 1 : 0);
        }
        std::size_t best = strokes;
        std::size_t bestScore = 0;
        std::size_t left = 0;
        for (std::size_t k = 0; k <= strokes; ++k)
        {
            if (left + right[k] >= bestScore)
            {
                best = k;
                bestScore = left + right[k];
            }
            if (k < strokes)
            {
                left += routed[k] ? 1 : 0;
            }
        }
        return best < strokes ? starts[best] : count;
    }

    const PlotFile& plot_;
    std::vector<std::vector<PlannedLine>> lines_;
    std::vector<Box> outlineBoxes_;
    // Per piece: the box of every point of its outline and lines, thickening strokes included.
    std::vector<Box> strokeBoxes_;
    std::vector<long long> keys_;
    std::vector<std::size_t> allPieces_;
};

} // namespace

std::vector<PlotFilePoint> LinePoints(const PlotFile& plot, const PlannedLine& line)
{
    std::vector<PlotFilePoint> points;
    const std::vector<PlotPieceRecord>& records = plot.pieces[line.piece].records;
    for (std::size_t r = line.firstRecord; r < line.firstRecord + line.recordCount; ++r)
    {
        const std::vector<PlotFilePoint>& recordPoints = records[r].points;
        const std::size_t first = r == line.firstRecord || recordPoints.empty() ? 0 : 1;
        points.insert(points.end(), recordPoints.begin() + static_cast<std::ptrdiff_t>(first),
                      recordPoints.end());
    }
    return points;
}

bool StartsWith(const std::vector<PlotFilePoint>& points, const std::vector<PlotFilePoint>& head,
                bool exactly)
{
    if (points.size() < head.size() || (exactly && points.size() != head.size()))
    {
        return false;
    }
    for (std::size_t i = 0; i < head.size(); ++i)
    {
        if (points[i].x != head[i].x || points[i].y != head[i].y)
        {
            return false;
        }
    }
    return true;
}

ExportPlan PlanExport(const PlotFile& plot, bool widths)
{
    return Planner(plot, widths).Plan();
}

} // namespace genplot::detail
