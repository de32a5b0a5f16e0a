#include "render/hpgl_label_order_internal.h"

#include <algorithm>
#include <cstdint>

// The search places labels one at a time as the importer would, trying the labels in file
// order first, so a file whose order already works costs one pass. A label is tried only
// where it would stay in file order within its piece and the pieces' labels would come out in
// piece order; a placement is undone when its growth sends a label not yet placed into a
// piece before the one it must reach (boxes only grow, so that can never be repaired).

namespace genplot::detail
{

void Box::Grow(long long x, long long y)
{
    if (empty)
    {
        x0 = x1 = x;
        y0 = y1 = y;
        empty = false;
        return;
    }
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
}

void Box::Grow(const Box& other)
{
    if (!other.empty)
    {
        Grow(other.x0, other.y0);
        Grow(other.x1, other.y1);
    }
}

bool Box::Holds(long long x, long long y) const
{
    return !empty && x0 <= x && x <= x1 && y0 <= y && y <= y1;
}

bool Box::Meets(const Box& other) const
{
    return !empty && !other.empty && x0 <= other.x1 && other.x0 <= x1 && y0 <= other.y1 &&
           other.y0 <= y1;
}

bool Box::Contains(const Box& other) const
{
    return other.empty || (Holds(other.x0, other.y0) && Holds(other.x1, other.y1));
}

bool Box::operator==(const Box& other) const
{
    return empty == other.empty &&
           (empty || (x0 == other.x0 && y0 == other.y0 && x1 == other.x1 && y1 == other.y1));
}

double Box::DistanceSquared(const PlotFilePoint& point) const
{
    const auto dx = static_cast<double>(x0 - point.x);
    const auto dy = static_cast<double>(y0 - point.y);
    return dx * dx + dy * dy;
}

Box ToBox(const PlotFileBox& box)
{
    Box result;
    result.Grow(box.lowerLeft.x, box.lowerLeft.y);
    result.Grow(box.upperRight.x, box.upperRight.y);
    return result;
}

namespace
{

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Beyond these the labels keep their file order: the search's cost grows with their product.
constexpr std::size_t kMaxSearchedLabels = 2000;
constexpr std::size_t kCandidatesPerStep = 24;
constexpr std::size_t kPlacementsPerLabel = 64;

class LabelSearch
{
  public:
    LabelSearch(const PlotFile& plot, const std::vector<Box>& outlineBoxes,
                const std::vector<Box>& strokeBoxes)
        : labels_(plot.pieceAnnotations), boxes_(outlineBoxes), strokeBoxes_(strokeBoxes)
    {
        for (const PlotFilePiece& piece : plot.pieces)
        {
            finalBoxes_.push_back(ToBox(piece.box));
        }
        for (const PlotFileAnnotation& label : labels_)
        {
            extents_.push_back(ToBox(label.extent));
        }
        piece_.assign(labels_.size(), kNone);
    }

    bool Run(std::vector<std::size_t>& order)
    {
        const std::size_t count = labels_.size();
        if (boxes_.empty() || count > kMaxSearchedLabels)
        {
            return false;
        }
        struct Step
        {
            std::size_t label;
            Box saved;
        };
        std::vector<Step> steps;
        std::size_t resume = 0;
        std::size_t budget = kPlacementsPerLabel * count + 1000;
        while (budget-- > 0)
        {
            if (steps.size() == count)
            {
                if (FinalBoxesMatch())
                {
                    for (const Step& step : steps)
                    {
                        order.push_back(step.label);
                    }
                    return true;
                }
            }
            else
            {
                FillBounds();
                const std::size_t next = NextCandidate(resume);
                if (next != kNone)
                {
                    const std::size_t piece = piece_[next];
                    steps.push_back({next, boxes_[piece]});
                    boxes_[piece].Grow(extents_[next]);
                    resume = 0;
                    continue;
                }
            }
            if (steps.empty())
            {
                return false;
            }
            const Step last = steps.back();
            steps.pop_back();
            boxes_[piece_[last.label]] = last.saved;
            piece_[last.label] = kNone;
            resume = last.label + 1;
        }
        return false;
    }

  private:
    // The piece the importer would give label `index` now.
    std::size_t Route(std::size_t index) const
    {
        const PlotFilePoint& at = labels_[index].position;
        for (std::size_t piece = 0; piece < boxes_.size(); ++piece)
        {
            if (boxes_[piece].Holds(at.x, at.y))
            {
                return piece;
            }
        }
        std::size_t nearest = 0;
        double best = boxes_[0].DistanceSquared(at);
        for (std::size_t piece = 1; piece < boxes_.size(); ++piece)
        {
            const double distance = boxes_[piece].DistanceSquared(at);
            if (distance < best)
            {
                best = distance;
                nearest = piece;
            }
        }
        return nearest;
    }

    // low_[i]: the smallest piece label i may still take (pieces of placed labels before it);
    // high_[i]: one past the largest (a placed label after it must stay in a later piece).
    void FillBounds()
    {
        const std::size_t count = labels_.size();
        low_.assign(count, 0);
        high_.assign(count, boxes_.size());
        std::size_t low = 0;
        for (std::size_t i = 0; i < count; ++i)
        {
            low_[i] = low;
            low = piece_[i] != kNone ? std::max(low, piece_[i]) : low;
        }
        std::size_t high = boxes_.size();
        for (std::size_t i = count; i-- > 0;)
        {
            high_[i] = high;
            high = piece_[i] != kNone ? std::min(high, piece_[i]) : high;
        }
    }

    // The first label from `resume` on, among the first few not yet placed, that can be
    // placed now; it is then marked with its piece.
    std::size_t NextCandidate(std::size_t resume)
    {
        std::size_t seen = 0;
        for (std::size_t i = 0; i < labels_.size() && seen < kCandidatesPerStep; ++i)
        {
            if (piece_[i] != kNone)
            {
                continue;
            }
            ++seen;
            if (i < resume)
            {
                continue;
            }
            const std::size_t piece = Route(i);
            if (piece < low_[i] || piece >= high_[i] || !finalBoxes_[piece].Contains(extents_[i]) ||
                Strands(i, piece))
            {
                continue;
            }
            piece_[i] = piece;
            return i;
        }
        return kNone;
    }

    // Whether growing `piece`'s box by label `index` would send another label not yet placed
    // to a piece before the smallest it may take.
    bool Strands(std::size_t index, std::size_t piece) const
    {
        Box grown = boxes_[piece];
        grown.Grow(extents_[index]);
        for (std::size_t i = 0; i < labels_.size(); ++i)
        {
            if (i == index || piece_[i] != kNone)
            {
                continue;
            }
            const std::size_t low = i > index ? std::max(low_[i], piece) : low_[i];
            const PlotFilePoint& at = labels_[i].position;
            if (piece < low && grown.Holds(at.x, at.y))
            {
                return true;
            }
        }
        return false;
    }

    bool FinalBoxesMatch() const
    {
        std::vector<Box> boxes = strokeBoxes_;
        for (std::size_t i = 0; i < labels_.size(); ++i)
        {
            boxes[piece_[i]].Grow(extents_[i]);
        }
        return boxes == finalBoxes_;
    }

    const std::vector<PlotFileAnnotation>& labels_;
    std::vector<Box> boxes_;
    const std::vector<Box>& strokeBoxes_;
    std::vector<Box> finalBoxes_;
    std::vector<Box> extents_;
    std::vector<std::size_t> piece_;
    std::vector<std::size_t> low_;
    std::vector<std::size_t> high_;
};

} // namespace

std::vector<std::size_t> OrderLabels(const PlotFile& plot, const std::vector<Box>& outlineBoxes,
                                     const std::vector<Box>& strokeBoxes)
{
    std::vector<std::size_t> order;
    if (!LabelSearch(plot, outlineBoxes, strokeBoxes).Run(order))
    {
        order.clear();
        for (std::size_t i = 0; i < plot.pieceAnnotations.size(); ++i)
        {
            order.push_back(i);
        }
    }
    return order;
}

} // namespace genplot::detail
