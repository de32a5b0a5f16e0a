#pragma once

#include "geometry/bbox.h"
#include "geometry/line_seg.h"
#include "platform/allocation_internal.h"
#include "platform/exception.h"
#include "platform/ob_list.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

class CPerim;

namespace genplot::detail
{

/// Hands std containers their memory through the library's allocation path, so that running
/// out of memory leaves as CMemoryException* like everywhere else in the library.
template <class T> class LibraryAllocator
{
  public:
    using value_type = T;

    LibraryAllocator() = default;
    template <class U> LibraryAllocator(const LibraryAllocator<U>& /*other*/) noexcept
    {
    }
    T* allocate(std::size_t count)
    {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T))
            AfxThrowMemoryException();
        return static_cast<T*>(Allocate(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept
    {
        Free(block, count * sizeof(T));
    }
    template <class U> bool operator==(const LibraryAllocator<U>& /*other*/) const noexcept
    {
        return true;
    }
    template <class U> bool operator!=(const LibraryAllocator<U>& /*other*/) const noexcept
    {
        return false;
    }
};

template <class T> using LibraryVector = std::vector<T, LibraryAllocator<T>>;

/// Lists with fewer pieces than this are scanned: below it a scan costs less than keeping
/// an index up to date.
long PieceIndexThreshold() noexcept;
/// Test hook: routing indexes lists of at least `pieces` pieces (0 or 1: always; a huge value:
/// never). Not thread-safe; tests set it before building a plot.
void SetPieceIndexThreshold(long pieces) noexcept;

/// An index over the boxes of a plot's pieces that answers "the first piece in list order
/// whose box holds a point of this line (or this point)" without walking the list.
///
/// A uniform grid of cells covers the region of the boxes. A cell keeps the first piece (in
/// list order) whose box covers the whole cell, which holds every point of the cell, and a
/// list of the pieces whose box covers only part of it, with a copy of the box. Points
/// outside the region fall into the nearest border cell, which therefore reaches to the end of
/// the coordinate range on its outer side; so every answer is exact whatever the region, and
/// the region only decides how much a query looks at.
///
/// The list order is kept as an order key per piece: keys grow along the list, a piece
/// inserted between two others takes a key between theirs, and when no key is free there the
/// keys are dealt out afresh. Comparing keys therefore compares list positions.
///
/// The index mirrors the list only as long as it is told of every change: a piece inserted
/// (`Insert`) and a box grown (`Update`). Whoever cannot tell it drops it and builds a new one.
/// `Insert` and `Update` may throw CMemoryException*, after which the index no longer mirrors
/// the list and must be dropped.
class PieceIndex
{
  public:
    /// Names one indexed piece; stays the same while the index lives.
    using Handle = std::uint32_t;
    static constexpr Handle kNone = std::numeric_limits<Handle>::max();

    static void* operator new(std::size_t size)
    {
        return Allocate(size);
    }
    static void operator delete(void* block, std::size_t size) noexcept
    {
        Free(block, size);
    }

    /// Indexes `pieces` (CPerim*) as they stand, in list order. May throw CMemoryException*.
    explicit PieceIndex(const CObList& pieces);
    PieceIndex(const PieceIndex&) = delete;
    PieceIndex& operator=(const PieceIndex&) = delete;

    /// True while the list looks as the index last saw it: the same count, head and tail.
    /// Catches pieces added or removed behind the index's back; not boxes changed in place.
    bool Mirrors(const CObList& pieces) const;
    /// True when the list has grown so far past the one the grid was laid out for that a new
    /// layout would answer faster.
    bool Outgrown() const;

    /// Records `piece`, just inserted into the list with `before` pieces ahead of it.
    void Insert(CPerim* piece, std::size_t before);
    /// Records the current box of the piece `handle`, which has grown. False, with nothing
    /// recorded, when the box has not merely grown: the index cannot follow and must go.
    bool Update(Handle handle);

    /// The first piece whose box holds a point of `line`, whose box is `lineBox`; kNone when
    /// no box holds any.
    Handle FirstHolding(const CLineSeg& line, const CBBox& lineBox) const;
    /// The first piece whose box holds `point`; kNone when there is none.
    Handle FirstHolding(const CCoord& point) const;
    /// The piece at list position `listIndex` (from 0).
    Handle HandleAt(std::size_t listIndex) const
    {
        return listOrder_[listIndex];
    }
    CPerim* PieceOf(Handle handle) const
    {
        return slots_[handle].piece;
    }

  private:
    struct Box
    {
        std::int32_t minX, minY, maxX, maxY;
    };
    struct Entry
    {
        Box box;
        std::uint64_t order; // a copy of the slot's, so that a query reads one cell only
        Handle slot;
    };
    struct Cell
    {
        // The first piece whose box covers the whole cell; none while the order is the largest.
        std::uint64_t coverOrder = std::numeric_limits<std::uint64_t>::max();
        Handle coverSlot = kNone;
        LibraryVector<Entry> partial; // pieces whose box covers part of the cell
    };
    struct Slot
    {
        CPerim* piece;
        std::uint64_t order;
        Box box;
    };
    struct CellRange
    {
        std::int64_t x0, y0, x1, y1; // inclusive; empty when x0 > x1
    };

    static Box BoxOf(const CBBox& box);
    static bool Holds(const Box& box, std::int32_t x, std::int32_t y)
    {
        return x >= box.minX && x <= box.maxX && y >= box.minY && y <= box.maxY;
    }

    void LayOut(const CObList& pieces);
    std::int64_t Column(std::int64_t x) const;
    std::int64_t Row(std::int64_t y) const;
    CellRange RangeOf(const Box& box) const;
    bool Covers(const Box& box, std::int64_t column, std::int64_t row) const;
    const Cell& CellAt(std::int64_t column, std::int64_t row) const
    {
        return cells_[static_cast<std::size_t>(row * columns_ + column)];
    }
    void Register(Handle slot);
    void SpreadKeys();

    LibraryVector<Slot> slots_;
    LibraryVector<Handle> listOrder_; // slot of each list position
    LibraryVector<Cell> cells_;
    std::int64_t originX_ = 0;
    std::int64_t originY_ = 0;
    int shift_ = 0;
    std::int64_t columns_ = 1;
    std::int64_t rows_ = 1;
    std::size_t laidOutFor_ = 0;
};

} // namespace genplot::detail
