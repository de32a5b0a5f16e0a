#include "geometry/perim.h"
#include "plotinfo/piece_index_internal.h"

#include <algorithm>

namespace genplot::detail
{
namespace
{

// From this many pieces on, routing keeps an index; below it, a scan of the list is cheaper
// than keeping the index up to date.
long indexThreshold = 24;

// The grid is laid out for about this many cells per piece, and coarsened until the boxes
// together take at most kEntriesPerPiece cell entries per piece: many large boxes would
// otherwise fill every cell.
constexpr std::int64_t kCellsPerPiece = 2;
constexpr std::int64_t kEntriesPerPiece = 8;
constexpr int kWidestShift = 33; // one cell then spans the whole 32-bit range

// A line whose box covers at most this many cells is answered from the pieces listed in
// those cells; a larger one point by point.
constexpr std::int64_t kCellsPerLineQuery = 16;
// Pieces whose box meets the line's box without holding all of it, and that come before the
// best piece found so far, each need a walk of the line's points; past this many the
// point-by-point query is the cheaper one.
constexpr std::size_t kPartialCandidates = 32;

// Order keys start this far apart, so that about 32 pieces can be inserted between two
// neighbours before the keys have to be dealt out afresh.
constexpr std::uint64_t kKeySpacing = std::uint64_t{1} << 32;

constexpr std::uint64_t kNoOrder = std::numeric_limits<std::uint64_t>::max();

} // namespace

long PieceIndexThreshold() noexcept
{
    return indexThreshold;
}

void SetPieceIndexThreshold(long pieces) noexcept
{
    indexThreshold = pieces;
}

PieceIndex::Box PieceIndex::BoxOf(const CBBox& box)
{
    return Box{box.lowerLeft.x, box.lowerLeft.y, box.upperRight.x, box.upperRight.y};
}

PieceIndex::PieceIndex(const CObList& pieces)
{
    LayOut(pieces);
}

void PieceIndex::LayOut(const CObList& pieces)
{
    auto count = static_cast<std::size_t>(pieces.GetCount());
    slots_.reserve(count);
    listOrder_.reserve(count);
    std::int64_t minX = std::numeric_limits<std::int64_t>::max();
    std::int64_t minY = minX;
    std::int64_t maxX = std::numeric_limits<std::int64_t>::min();
    std::int64_t maxY = maxX;
    for (POSITION position = pieces.GetHeadPosition(); position != nullptr;)
    {
        auto* piece = static_cast<CPerim*>(pieces.GetNext(position));
        // A null entry is indexed as a piece whose box holds nothing.
        Box box = piece != nullptr ? BoxOf(piece->box) : BoxOf(CBBox());
        auto slot = static_cast<std::uint32_t>(slots_.size());
        slots_.push_back(Slot{piece, (std::uint64_t{slot} + 1) * kKeySpacing, box});
        listOrder_.push_back(slot);
        if (box.minX > box.maxX || box.minY > box.maxY)
            continue;
        minX = std::min<std::int64_t>(minX, box.minX);
        minY = std::min<std::int64_t>(minY, box.minY);
        maxX = std::max<std::int64_t>(maxX, box.maxX);
        maxY = std::max<std::int64_t>(maxY, box.maxY);
    }
    laidOutFor_ = count;

    if (minX <= maxX)
    {
        originX_ = minX;
        originY_ = minY;
        std::int64_t width = maxX - minX;
        std::int64_t height = maxY - minY;
        auto target = std::max<std::int64_t>(4, kCellsPerPiece * static_cast<std::int64_t>(count));
        shift_ = 0;
        for (; shift_ < kWidestShift; ++shift_)
        {
            std::int64_t across = (width >> shift_) + 1;
            std::int64_t up = (height >> shift_) + 1;
            if (across <= target && up <= target && across * up <= target)
                break;
        }
        // Coarser while the boxes would take too many cell entries; the estimate counts the
        // cells a box of that size covers at most.
        auto entryBudget = kEntriesPerPiece * static_cast<std::int64_t>(count) + 64;
        for (; shift_ < kWidestShift; ++shift_)
        {
            std::int64_t entries = 0;
            for (const Slot& slot : slots_)
            {
                if (slot.box.minX > slot.box.maxX || slot.box.minY > slot.box.maxY)
                    continue;
                std::int64_t across = ((std::int64_t{slot.box.maxX} - slot.box.minX) >> shift_) + 2;
                std::int64_t up = ((std::int64_t{slot.box.maxY} - slot.box.minY) >> shift_) + 2;
                entries += across * up;
                if (entries > entryBudget)
                    break;
            }
            if (entries <= entryBudget)
                break;
        }
        columns_ = (width >> shift_) + 1;
        rows_ = (height >> shift_) + 1;
    }
    cells_.resize(static_cast<std::size_t>(columns_ * rows_));
    for (std::uint32_t slot = 0; slot < slots_.size(); ++slot)
        Register(slot);
}

bool PieceIndex::Mirrors(const CObList& pieces) const
{
    if (static_cast<std::size_t>(pieces.GetCount()) != listOrder_.size())
        return false;
    if (listOrder_.empty())
        return true;
    return pieces.GetHead() == slots_[listOrder_.front()].piece &&
           pieces.GetTail() == slots_[listOrder_.back()].piece;
}

bool PieceIndex::Outgrown() const
{
    return listOrder_.size() > 2 * laidOutFor_ + 16;
}

std::int64_t PieceIndex::Column(std::int64_t x) const
{
    std::int64_t offset = x - originX_;
    if (offset <= 0)
        return 0;
    std::int64_t column = offset >> shift_;
    return column < columns_ ? column : columns_ - 1;
}

std::int64_t PieceIndex::Row(std::int64_t y) const
{
    std::int64_t offset = y - originY_;
    if (offset <= 0)
        return 0;
    std::int64_t row = offset >> shift_;
    return row < rows_ ? row : rows_ - 1;
}

PieceIndex::CellRange PieceIndex::RangeOf(const Box& box) const
{
    // A box that holds no point is listed nowhere.
    if (box.minX > box.maxX || box.minY > box.maxY)
        return CellRange{0, 0, -1, -1};
    return CellRange{Column(box.minX), Row(box.minY), Column(box.maxX), Row(box.maxY)};
}

void PieceIndex::Register(std::uint32_t slot)
{
    const Slot& s = slots_[slot];
    CellRange range = RangeOf(s.box);
    for (std::int64_t row = range.y0; row <= range.y1; ++row)
        for (std::int64_t column = range.x0; column <= range.x1; ++column)
            cells_[static_cast<std::size_t>(row * columns_ + column)].push_back(
                Entry{s.box, s.order, slot});
}

void PieceIndex::Unregister(std::uint32_t slot)
{
    CellRange range = RangeOf(slots_[slot].box);
    for (std::int64_t row = range.y0; row <= range.y1; ++row)
    {
        for (std::int64_t column = range.x0; column <= range.x1; ++column)
        {
            Cell& cell = cells_[static_cast<std::size_t>(row * columns_ + column)];
            auto found = std::find_if(cell.begin(), cell.end(),
                                      [slot](const Entry& entry) { return entry.slot == slot; });
            if (found != cell.end())
            {
                *found = cell.back();
                cell.pop_back();
            }
        }
    }
}

void PieceIndex::SpreadKeys()
{
    for (std::size_t i = 0; i < listOrder_.size(); ++i)
        slots_[listOrder_[i]].order = (std::uint64_t{i} + 1) * kKeySpacing;
    for (Cell& cell : cells_)
        for (Entry& entry : cell)
            entry.order = slots_[entry.slot].order;
}

void PieceIndex::Insert(CPerim* piece, std::size_t before)
{
    before = std::min(before, listOrder_.size());
    auto keyBetween = [this, before](std::uint64_t& key) {
        std::uint64_t low = before > 0 ? slots_[listOrder_[before - 1]].order : 0;
        std::uint64_t high =
            before < listOrder_.size() ? slots_[listOrder_[before]].order : low + 2 * kKeySpacing;
        if (high < low || high - low < 2)
            return false; // no free key (or the tail key would wrap)
        key = low + (high - low) / 2;
        return true;
    };
    std::uint64_t key = 0;
    if (!keyBetween(key))
    {
        SpreadKeys();
        keyBetween(key);
    }
    auto slot = static_cast<std::uint32_t>(slots_.size());
    slots_.push_back(Slot{piece, key, BoxOf(piece->box)});
    listOrder_.insert(listOrder_.begin() + static_cast<std::ptrdiff_t>(before), slot);
    Register(slot);
}

void PieceIndex::Update(std::size_t listIndex)
{
    std::uint32_t slot = listOrder_[listIndex];
    Box box = BoxOf(slots_[slot].piece->box);
    const Box& old = slots_[slot].box;
    if (box.minX == old.minX && box.minY == old.minY && box.maxX == old.maxX &&
        box.maxY == old.maxY)
        return;
    Unregister(slot);
    slots_[slot].box = box;
    Register(slot);
}

CPerim* PieceIndex::PieceAt(std::size_t listIndex) const
{
    return slots_[listOrder_[listIndex]].piece;
}

std::size_t PieceIndex::ListIndexOf(std::uint32_t slot) const
{
    std::uint64_t order = slots_[slot].order;
    auto found = std::lower_bound(
        listOrder_.begin(), listOrder_.end(), order,
        [this](std::uint32_t s, std::uint64_t key) { return slots_[s].order < key; });
    return static_cast<std::size_t>(found - listOrder_.begin());
}

std::size_t PieceIndex::FirstHolding(const CCoord& point) const
{
    std::uint64_t best = kNoOrder;
    std::uint32_t bestSlot = 0;
    for (const Entry& entry : CellAt(Column(point.x), Row(point.y)))
    {
        if (entry.order < best && Holds(entry.box, point.x, point.y))
        {
            best = entry.order;
            bestSlot = entry.slot;
        }
    }
    return best == kNoOrder ? npos : ListIndexOf(bestSlot);
}

std::size_t PieceIndex::FirstHoldingByPoints(const CLineSeg& line) const
{
    std::uint64_t best = kNoOrder;
    std::uint32_t bestSlot = 0;
    for (POSITION position = line.GetHeadPosition(); position != nullptr;)
    {
        const CCoord* point = line.GetNextPoint(position);
        for (const Entry& entry : CellAt(Column(point->x), Row(point->y)))
        {
            if (entry.order < best && Holds(entry.box, point->x, point->y))
            {
                best = entry.order;
                bestSlot = entry.slot;
            }
        }
    }
    return best == kNoOrder ? npos : ListIndexOf(bestSlot);
}

std::size_t PieceIndex::FirstHolding(const CLineSeg& line, const CBBox& lineBox) const
{
    Box query = BoxOf(lineBox);
    CellRange range = RangeOf(query);
    if (range.x0 > range.x1)
        return npos; // an empty line is held by no box
    if ((range.x1 - range.x0 + 1) * (range.y1 - range.y0 + 1) > kCellsPerLineQuery)
        return FirstHoldingByPoints(line);

    // Every piece whose box holds a point of the line is listed in the cell of that point,
    // which lies in `range`. A box holding the line's whole box holds every point; one that
    // only meets it is a candidate to be walked point by point, in list order.
    struct Candidate
    {
        std::uint64_t order;
        std::uint32_t slot;
    };
    Candidate partial[kPartialCandidates];
    std::size_t partialCount = 0;
    std::uint64_t best = kNoOrder;
    std::uint32_t bestSlot = 0;
    for (std::int64_t row = range.y0; row <= range.y1; ++row)
    {
        for (std::int64_t column = range.x0; column <= range.x1; ++column)
        {
            for (const Entry& entry : CellAt(column, row))
            {
                const Box& box = entry.box;
                if (entry.order >= best || box.minX > query.maxX || box.maxX < query.minX ||
                    box.minY > query.maxY || box.maxY < query.minY)
                    continue;
                if (box.minX <= query.minX && box.maxX >= query.maxX && box.minY <= query.minY &&
                    box.maxY >= query.maxY)
                {
                    best = entry.order;
                    bestSlot = entry.slot;
                    continue;
                }
                if (partialCount == kPartialCandidates)
                    return FirstHoldingByPoints(line);
                partial[partialCount++] = Candidate{entry.order, entry.slot};
            }
        }
    }
    std::sort(partial, partial + partialCount,
              [](const Candidate& a, const Candidate& b) { return a.order < b.order; });
    for (std::size_t i = 0; i < partialCount && partial[i].order < best; ++i)
    {
        if (i > 0 && partial[i].slot == partial[i - 1].slot)
            continue; // listed in two of the cells
        const Box& box = slots_[partial[i].slot].box;
        for (POSITION position = line.GetHeadPosition(); position != nullptr;)
        {
            const CCoord* point = line.GetNextPoint(position);
            if (Holds(box, point->x, point->y))
            {
                best = partial[i].order;
                bestSlot = partial[i].slot;
                break;
            }
        }
    }
    return best == kNoOrder ? npos : ListIndexOf(bestSlot);
}

} // namespace genplot::detail
