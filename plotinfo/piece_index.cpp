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
// that cover cells only in part take at most kPartialEntriesPerPiece entries per piece.
constexpr std::int64_t kCellsPerPiece = 2;
constexpr std::int64_t kPartialEntriesPerPiece = 16;
constexpr int kWidestShift = 33; // one cell then spans the whole 32-bit range

// Pieces whose box meets a line's box without holding all of it, and that come before the
// best piece found so far, each need a walk of the line's points; past this many the
// point-by-point query is the cheaper one.
constexpr std::size_t kPartialCandidates = 16;

// Order keys start this far apart, so that about 32 pieces can be inserted between two
// neighbours before the keys have to be dealt out afresh.
constexpr std::uint64_t kKeySpacing = std::uint64_t{1} << 32;

constexpr std::uint64_t kNoOrder = std::numeric_limits<std::uint64_t>::max();

constexpr std::int64_t kLowestCoordinate = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kHighestCoordinate = std::numeric_limits<std::int32_t>::max();

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
        auto slot = static_cast<Handle>(slots_.size());
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
        auto budget = kPartialEntriesPerPiece * static_cast<std::int64_t>(count) + 64;
        for (shift_ = 0; shift_ < kWidestShift; ++shift_)
        {
            std::int64_t across = (width >> shift_) + 1;
            std::int64_t up = (height >> shift_) + 1;
            if (across > target || up > target || across * up > target)
                continue;
            // A box covers in part at most the cells along its edges.
            std::int64_t entries = 0;
            for (const Slot& slot : slots_)
            {
                if (slot.box.minX > slot.box.maxX || slot.box.minY > slot.box.maxY)
                    continue;
                std::int64_t wide = ((std::int64_t{slot.box.maxX} - slot.box.minX) >> shift_) + 2;
                std::int64_t high = ((std::int64_t{slot.box.maxY} - slot.box.minY) >> shift_) + 2;
                entries += std::min(wide * high, 2 * (wide + high));
                if (entries > budget)
                    break;
            }
            if (entries <= budget)
                break;
        }
        columns_ = (width >> shift_) + 1;
        rows_ = (height >> shift_) + 1;
    }
    cells_.resize(static_cast<std::size_t>(columns_ * rows_));
    for (Handle slot = 0; slot < slots_.size(); ++slot)
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

bool PieceIndex::Covers(const Box& box, std::int64_t column, std::int64_t row) const
{
    // The border cells take every point beyond the grid, up to the end of the range.
    std::int64_t left = column == 0 ? kLowestCoordinate : originX_ + (column << shift_);
    std::int64_t right =
        column == columns_ - 1 ? kHighestCoordinate : originX_ + ((column + 1) << shift_) - 1;
    std::int64_t bottom = row == 0 ? kLowestCoordinate : originY_ + (row << shift_);
    std::int64_t top = row == rows_ - 1 ? kHighestCoordinate : originY_ + ((row + 1) << shift_) - 1;
    return box.minX <= left && box.maxX >= right && box.minY <= bottom && box.maxY >= top;
}

void PieceIndex::Register(Handle slot)
{
    const Slot& s = slots_[slot];
    CellRange range = RangeOf(s.box);
    for (std::int64_t row = range.y0; row <= range.y1; ++row)
    {
        for (std::int64_t column = range.x0; column <= range.x1; ++column)
        {
            Cell& cell = cells_[static_cast<std::size_t>(row * columns_ + column)];
            if (!Covers(s.box, column, row))
            {
                cell.partial.push_back(Entry{s.box, s.order, slot});
            }
            else if (s.order < cell.coverOrder)
            {
                cell.coverOrder = s.order;
                cell.coverSlot = slot;
            }
        }
    }
}

void PieceIndex::SpreadKeys()
{
    for (std::size_t i = 0; i < listOrder_.size(); ++i)
        slots_[listOrder_[i]].order = (std::uint64_t{i} + 1) * kKeySpacing;
    for (Cell& cell : cells_)
    {
        if (cell.coverSlot != kNone)
            cell.coverOrder = slots_[cell.coverSlot].order;
        for (Entry& entry : cell.partial)
            entry.order = slots_[entry.slot].order;
    }
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
    auto slot = static_cast<Handle>(slots_.size());
    slots_.push_back(Slot{piece, key, BoxOf(piece->box)});
    listOrder_.insert(listOrder_.begin() + static_cast<std::ptrdiff_t>(before), slot);
    Register(slot);
}

bool PieceIndex::Update(Handle handle)
{
    Slot& slot = slots_[handle];
    Box box = BoxOf(slot.piece->box);
    Box old = slot.box;
    if (box.minX == old.minX && box.minY == old.minY && box.maxX == old.maxX &&
        box.maxY == old.maxY)
        return true;
    bool oldHoldsNothing = old.minX > old.maxX || old.minY > old.maxY;
    if (oldHoldsNothing)
    {
        slot.box = box;
        Register(handle);
        return true;
    }
    // A cell's first covering piece cannot be taken back, so the index follows growth only.
    if (box.minX > old.minX || box.minY > old.minY || box.maxX < old.maxX || box.maxY < old.maxY)
        return false;
    slot.box = box;
    CellRange range = RangeOf(box);
    for (std::int64_t row = range.y0; row <= range.y1; ++row)
    {
        for (std::int64_t column = range.x0; column <= range.x1; ++column)
        {
            Cell& cell = cells_[static_cast<std::size_t>(row * columns_ + column)];
            auto found =
                std::find_if(cell.partial.begin(), cell.partial.end(),
                             [handle](const Entry& entry) { return entry.slot == handle; });
            if (Covers(box, column, row))
            {
                if (found != cell.partial.end())
                {
                    *found = cell.partial.back();
                    cell.partial.pop_back();
                }
                if (slot.order < cell.coverOrder)
                {
                    cell.coverOrder = slot.order;
                    cell.coverSlot = handle;
                }
            }
            else if (found != cell.partial.end())
            {
                found->box = box;
            }
            else
            {
                cell.partial.push_back(Entry{box, slot.order, handle});
            }
        }
    }
    return true;
}

PieceIndex::Handle PieceIndex::FirstHolding(const CCoord& point) const
{
    const Cell& cell = CellAt(Column(point.x), Row(point.y));
    std::uint64_t best = cell.coverOrder;
    Handle found = cell.coverSlot;
    for (const Entry& entry : cell.partial)
    {
        if (entry.order < best && Holds(entry.box, point.x, point.y))
        {
            best = entry.order;
            found = entry.slot;
        }
    }
    return best == kNoOrder ? kNone : found;
}

PieceIndex::Handle PieceIndex::FirstHolding(const CLineSeg& line, const CBBox& lineBox) const
{
    Box query = BoxOf(lineBox);
    CellRange range = RangeOf(query);
    if (range.x0 > range.x1)
        return kNone; // an empty line is held by no box
    std::uint64_t best = kNoOrder;
    Handle found = kNone;

    if (range.x0 == range.x1 && range.y0 == range.y1)
    {
        // The whole line lies in one cell: the piece covering the cell holds all of it, and
        // of the pieces covering the cell in part, one whose box holds the line's box holds
        // it too. Those whose box only meets the line's box are walked point by point, in
        // list order, as far as they come before the best so far.
        const Cell& cell = CellAt(range.x0, range.y0);
        best = cell.coverOrder;
        found = cell.coverSlot;
        struct Candidate
        {
            std::uint64_t order;
            Handle slot;
        };
        Candidate partial[kPartialCandidates];
        std::size_t partialCount = 0;
        bool tooMany = false;
        for (const Entry& entry : cell.partial)
        {
            const Box& box = entry.box;
            if (entry.order >= best || box.minX > query.maxX || box.maxX < query.minX ||
                box.minY > query.maxY || box.maxY < query.minY)
                continue;
            if (box.minX <= query.minX && box.maxX >= query.maxX && box.minY <= query.minY &&
                box.maxY >= query.maxY)
            {
                best = entry.order;
                found = entry.slot;
            }
            else if (partialCount < kPartialCandidates)
            {
                partial[partialCount++] = Candidate{entry.order, entry.slot};
            }
            else
            {
                tooMany = true;
            }
        }
        if (!tooMany)
        {
            std::sort(partial, partial + partialCount,
                      [](const Candidate& a, const Candidate& b) { return a.order < b.order; });
            for (std::size_t i = 0; i < partialCount && partial[i].order < best; ++i)
            {
                const Box& box = slots_[partial[i].slot].box;
                for (POSITION position = line.GetHeadPosition(); position != nullptr;)
                {
                    const CCoord* point = line.GetNextPoint(position);
                    if (Holds(box, point->x, point->y))
                    {
                        best = partial[i].order;
                        found = partial[i].slot;
                        break;
                    }
                }
            }
            return best == kNoOrder ? kNone : found;
        }
        best = kNoOrder;
        found = kNone;
    }

    // Point by point: the first piece holding each point, and the first of those.
    for (POSITION position = line.GetHeadPosition(); position != nullptr;)
    {
        const CCoord* point = line.GetNextPoint(position);
        const Cell& cell = CellAt(Column(point->x), Row(point->y));
        if (cell.coverOrder < best)
        {
            best = cell.coverOrder;
            found = cell.coverSlot;
        }
        for (const Entry& entry : cell.partial)
        {
            if (entry.order < best && Holds(entry.box, point->x, point->y))
            {
                best = entry.order;
                found = entry.slot;
            }
        }
    }
    return best == kNoOrder ? kNone : found;
}

} // namespace genplot::detail
