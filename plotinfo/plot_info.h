#pragma once

#include "geometry/bbox.h"
#include "geometry/line_seg.h"
#include "platform/ob_list.h"

#include <cstddef>
#include <cstdint>

class CLabel;
class CVector2D;
class CPerim;
struct CPlotConfig;

namespace genplot::detail
{
class PieceIndex;
}

/// The plot collection: the host pours strokes in through `currentLine` and `CheckForClosure`,
/// appends labels to `looseLabels`, calls `FinalizePlotInfo` once, and hands the collection to
/// the writer. Owns every piece, loose line and loose label it holds.
///
/// Routing and placement find the first piece whose box holds a point through an index of the
/// piece boxes once `pieces` is long, so a stroke costs about the same among thousands of
/// pieces as among ten. The index follows every change this class makes and notices pieces
/// added to or removed from `pieces` by hand; it does not see a box changed by hand, so until
/// finalisation a piece's box is set by this class alone. Keeping the index never makes an
/// operation fail: without memory for it, the list is scanned, with the same results.
class GENPLOT_API CPlotInfo : public CObject
{
  public:
    CPlotInfo();
    /// Deletes every piece, loose label and loose line, and the points of `currentLine`.
    ~CPlotInfo() override;
    CPlotInfo(const CPlotInfo&) = delete;
    CPlotInfo& operator=(const CPlotInfo&) = delete;

    /// Takes the scale from `config` and the default text height; the three values are scaled
    /// by value × 0.01 × scaleMultiplier ÷ scaleDivisor. Optional.
    virtual void Initialize(CPlotConfig& config, double value1, double value2, double value3,
                            int textHeight);
    /// Ends the last stroke, places loose lines and labels in pieces, thickens wide lines and
    /// brings every box and `extents` up to date. Call once, after the last stroke and label.
    /// Reads the miter threshold from the registry each time.
    ///
    /// When memory runs out:
    /// - during the thickening pass's walk over the pieces, the pass catches the exception
    ///   (any CException*), deletes it and ends. The strokes it has already put into pieces
    ///   stay; those of the line it was working on are deleted. Finalisation then goes on:
    ///   the labels are placed and the boxes brought up to date as without the failure. The
    ///   walk is guarded because thickening only adds strokes beside lines already stored: cut
    ///   short, it leaves a complete plot whose wide lines are partly thickened, which the
    ///   writer writes as it is, rather than a plot whose labels were never placed;
    /// - in every other step (ending the last stroke, placing lines and labels, reading the
    ///   registry before the walk), CMemoryException* propagates to the caller. The lists then
    ///   hold live objects only, what was not yet placed stays in `looseLines` or
    ///   `looseLabels`, and the boxes are not brought up to date.
    virtual void FinalizePlotInfo();

    /// Ends the stroke in progress when `width` differs from the current width, then sets it.
    void SetLineWidth(int width);
    /// Ends the stroke in `currentLine`: it becomes a piece when it closes within
    /// `closeTolerance`, else it is routed into a piece or the loose lines. 0 when the line
    /// had no points, else 1.
    int CheckForClosure();
    /// Makes a piece from `currentLine` and inserts it by size key; nothing for an empty line.
    /// May throw CMemoryException*, after which no partly built piece is left in `pieces`.
    void AddNewPerim();
    /// Routes `currentLine` into the first piece whose box holds one of its points, else into
    /// `looseLines`; nothing for an empty line. May throw CMemoryException*: chunks stored
    /// before the failure stay, and `currentLine` keeps its points.
    void SaveLine();
    /// Appends chunk copies of `line` (at most 6001 points each, overlapping by one segment)
    /// to the piece's non-perimeter lines; nothing for an empty line. `line` is not changed.
    void AddLineToPiece(CLineSeg* line, CPerim* piece);
    /// 1 when at least one point of `line` lies in `box`, edges included; 0 for an empty line.
    int IsLineInBbox(CLineSeg* line, CBBox* box);
    /// The first piece in list order whose box holds the point, or null.
    CPerim* FindPtInPiece(CCoord* point);
    /// Appends a new, empty piece at the tail; the argument is not used.
    void AddNewPc(CPerim* piece);
    /// Deletes every piece and empties `pieces`.
    void RemovePerimeters();
    /// Deletes every loose label and empties `looseLabels`; labels held by pieces stay.
    void RemoveLabels();
    /// Deletes every loose line and empties `looseLines`.
    void RemoveLooseLines();

    /// Moves every loose line into a piece, making one piece from the first when there is none.
    void AssignLooseLinesToPieces();
    /// Moves every loose label into a piece, when any piece exists.
    void AssignLooseLabelsToPieces();

    std::int32_t currentPen;
    std::int32_t defaultTextHeight;
    double configScale;
    double scaledValue1;
    double scaledValue2;
    double spareScale;
    double scaledValue3;
    std::int32_t hostValue1;
    /// Closure tolerance in plot units: a stroke closes when its last point lies in the square
    /// of this half-side around its first.
    std::int32_t closeTolerance;
    CBBox extents;
    /// Lines (CLineSeg*) that touched no piece's box when they ended; owned.
    CObList looseLines;
    /// Labels (CLabel*) not yet placed in a piece; owned. The host appends heap labels here.
    CObList looseLabels;
    /// Pieces (CPerim*), in ascending size-key order for those made by closure; owned.
    CObList pieces;
    CLineSeg currentLine;
    std::int32_t hostValue2;
    std::int32_t hostValue3;
    std::int32_t fatLineInset;
    std::int32_t fatLineSpacing;
    /// The miter threshold of the thickening pass, a cosine (no unit): a vertex is mitred when
    /// the cosine of the turn between its two segments is above −miterCosine, else bevelled.
    /// Set at every finalisation to minus the magnitude of the integer in the registry value
    /// "MiterLimit", or to −0.5 (turns below 60 degrees mitred) when there is no such value.
    double miterCosine;

  private:
    friend class PlotInfoTestAccess;

    /// The index of the piece boxes that routing and placement query, brought in line with
    /// `pieces` first; null when the list is short enough to scan, or when there is no memory
    /// for an index (the scan then gives the same answers, only slower).
    genplot::detail::PieceIndex* RoutingIndex() noexcept;
    /// Frees the index; the next query builds a new one from the list.
    void DropRoutingIndex() noexcept;
    /// Tells the index of a piece just inserted with `before` pieces ahead of it, or of the
    /// grown box of the piece it names `handle`; when the index cannot follow (no memory, or
    /// a box that did not merely grow) it is dropped.
    void NotePieceInserted(CPerim* piece, std::size_t before) noexcept;
    void NotePieceBoxChanged(std::uint32_t handle) noexcept;
    /// The first piece in list order whose box holds a point of `line` (its box `lineBox`),
    /// or null.
    CPerim* FirstPieceHolding(CLineSeg& line, const CBBox& lineBox);

    double GetDistanceSquared(CPerim* piece, CCoord* point);
    void MakeFatLines();
    void OffsetLineSegs(CObList& strokes, CLineSeg* line);

    /// Owned; see RoutingIndex.
    genplot::detail::PieceIndex* routingIndex_ = nullptr;
};
