#include "geometry/label.h"
#include "geometry/perim.h"
#include "plotinfo/piece_index_internal.h"
#include "plotinfo/plot_info.h"
#include "plotinfo/routing_internal.h"

#include <cstdint>

void CPlotInfo::FinalizePlotInfo()
{
    CheckForClosure();
    if (!looseLines.IsEmpty())
        AssignLooseLinesToPieces();
    MakeFatLines();
    if (!looseLabels.IsEmpty())
        AssignLooseLabelsToPieces();
    // Placement is over and every box changes below: the index has nothing more to answer.
    DropRoutingIndex();
    genplot::detail::GrowPieceBoxes(pieces, extents);
}

namespace genplot::detail
{

void GrowPieceBoxes(CObList& pieces, CBBox& extents)
{
    for (POSITION piecePosition = pieces.GetHeadPosition(); piecePosition != nullptr;)
    {
        auto* piece = static_cast<CPerim*>(pieces.GetNext(piecePosition));
        piece->outline.UpdateBoundingBoxes(piece, &extents);
        // Null entries a host may have appended are skipped, as the Remove operations do.
        for (POSITION position = piece->nonPerimeterLines.GetHeadPosition(); position != nullptr;)
        {
            auto* line = static_cast<CLineSeg*>(piece->nonPerimeterLines.GetNext(position));
            if (line != nullptr)
                line->UpdateBoundingBoxes(piece, &extents);
        }
        for (POSITION position = piece->labels.GetHeadPosition(); position != nullptr;)
        {
            auto* label = static_cast<CLabel*>(piece->labels.GetNext(position));
            if (label != nullptr)
                label->UpdateBoundingBoxes(piece, &extents);
        }
    }
}

} // namespace genplot::detail

namespace
{

// The piece nearest to `point` by distance to its box's lower-left corner; on a tie the one
// nearer the head wins. `pieces` must not be empty. `listIndex`, when given, gets its position.
template <class Distance>
CPerim* NearestPiece(CObList& pieces, CCoord* point, Distance distance,
                     std::size_t* listIndex = nullptr)
{
    POSITION position = pieces.GetHeadPosition();
    auto* nearest = static_cast<CPerim*>(pieces.GetNext(position));
    double best = distance(nearest, point);
    std::size_t nearestIndex = 0;
    for (std::size_t index = 1; position != nullptr; ++index)
    {
        auto* piece = static_cast<CPerim*>(pieces.GetNext(position));
        double candidate = distance(piece, point);
        if (candidate < best)
        {
            best = candidate;
            nearest = piece;
            nearestIndex = index;
        }
    }
    if (listIndex != nullptr)
        *listIndex = nearestIndex;
    return nearest;
}

// Appends a piece made from `line` (not empty) to `pieces`: its outline is the line, and its
// box and `extents` restart at the line's first point and grow by the outline. The outline
// takes the line's points over instead of copying them (the caller deletes the line next);
// if the piece cannot be stored, the line gets them back.
void MakePieceFromLine(CLineSeg* line, CObList& pieces, CBBox& extents)
{
    const CCoord first = *line->GetFirstPoint();
    auto* piece = new CPerim;
    piece->box.lowerLeft = first;
    piece->box.upperRight = first;
    piece->outline.geometryType = line->geometryType;
    piece->outline.penNumber = line->penNumber;
    piece->outline.lineType = line->lineType;
    piece->outline.lineWidth = line->lineWidth;
    piece->outline.points.Swap(line->points);
    try
    {
        pieces.AddTail(piece);
    }
    catch (...)
    {
        piece->outline.points.Swap(line->points);
        delete piece;
        throw;
    }
    extents.lowerLeft = first;
    extents.upperRight = first;
    piece->outline.UpdateBoundingBoxes(piece, &extents);
}

} // namespace

void CPlotInfo::AssignLooseLinesToPieces()
{
    auto distance = [this](CPerim* piece, CCoord* point) {
        return GetDistanceSquared(piece, point);
    };
    // The first piece whose box holds a point of the line, else the nearest one.
    auto route = [this, &distance](CLineSeg* line) {
        CPerim* piece = FirstPieceHolding(*line, genplot::detail::LineBox(*line));
        return piece != nullptr ? piece : NearestPiece(pieces, line->GetFirstPoint(), distance);
    };

    // Each line leaves the list only once it has been placed and deleted, so an allocation
    // failure leaves the lines not yet placed in `looseLines` and no dead pointer anywhere.
    while (!looseLines.IsEmpty())
    {
        auto* line = static_cast<CLineSeg*>(looseLines.GetHead());
        // A host may append a null line or one without points: there is nothing to place.
        if (line != nullptr && line->GetPointCount() > 0)
        {
            if (pieces.IsEmpty())
                MakePieceFromLine(line, pieces, extents);
            else
                // As AddLineToPiece, but taking the line's points over when one chunk holds
                // them: the line is deleted right after.
                genplot::detail::AppendChunksTakingPoints(line, route(line)->nonPerimeterLines);
        }
        delete line;
        looseLines.RemoveHead();
    }
}

void CPlotInfo::AssignLooseLabelsToPieces()
{
    if (looseLabels.IsEmpty() || pieces.IsEmpty())
        return;
    auto distance = [this](CPerim* piece, CCoord* point) {
        return GetDistanceSquared(piece, point);
    };

    while (!looseLabels.IsEmpty())
    {
        auto* label = static_cast<CLabel*>(looseLabels.GetHead());
        if (label == nullptr)
        {
            looseLabels.RemoveHead();
            continue;
        }
        // The first piece whose box holds the position, else the nearest one. With an index,
        // the target's handle is kept too, to tell the index of the box's growth.
        CPerim* target = nullptr;
        auto handle = genplot::detail::PieceIndex::kNone;
        genplot::detail::PieceIndex* index = RoutingIndex();
        if (index != nullptr)
        {
            handle = index->FirstHolding(label->position);
            if (handle != genplot::detail::PieceIndex::kNone)
                target = index->PieceOf(handle);
        }
        else
        {
            target = FindPtInPiece(&label->position);
        }
        if (target == nullptr)
        {
            std::size_t listIndex = 0;
            target = NearestPiece(pieces, &label->position, distance, &listIndex);
            if (index != nullptr)
                handle = index->HandleAt(listIndex);
        }

        auto* placed = new CLabel;
        try
        {
            label->CopyLabel(placed);
            target->labels.AddTail(placed);
        }
        catch (...)
        {
            delete placed;
            throw;
        }
        // Grown at once, so the next label is tested against a box that includes this one.
        placed->UpdateBoundingBoxes(target, &extents);
        if (index != nullptr)
            NotePieceBoxChanged(handle);
        delete label;
        looseLabels.RemoveHead();
    }
}

double CPlotInfo::GetDistanceSquared(CPerim* piece, CCoord* point)
{
    // 64-bit differences: corners and points far apart overflow 32 bits. Each difference fits
    // a double exactly, so the result matches the 32-bit one wherever that one is defined.
    double dx = static_cast<double>(static_cast<std::int64_t>(piece->box.lowerLeft.x) - point->x);
    double dy = static_cast<double>(static_cast<std::int64_t>(piece->box.lowerLeft.y) - point->y);
    return dx * dx + dy * dy;
}
