#include "plotinfo/plot_info.h"

#include "geometry/label.h"
#include "geometry/perim.h"
#include "platform/ob_list_delete_internal.h"
#include "plotinfo/piece_index_internal.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/routing_internal.h"

#include <cstdint>

namespace
{

// A closing stroke needs room for at least 10 more pieces below this bound, so closure makes
// at most 2991 pieces; a stored line holds at most kChunkPoints + 1 points.
constexpr long kPieceBound = 3000;
constexpr long kPieceReserve = 10;
constexpr int kMaxOutlinePoints = 6000;
constexpr int kChunkPoints = 6000;
constexpr int kChunkStep = 5999;

// Appends chunk copies of `source` to `destination`. Each chunk is filled before it is
// linked, so a failed allocation never leaves a half-copied line in the list; the chunks
// appended before it stay.
void AppendChunks(CLineSeg* source, CObList& destination)
{
    int count = source->GetPointCount();
    int start = 0;
    do
    {
        auto* chunk = new CLineSeg;
        try
        {
            chunk->CopyLineSeg(source, start, kChunkPoints);
            destination.AddTail(chunk);
        }
        catch (...)
        {
            delete chunk;
            throw;
        }
        start += kChunkStep;
    } while (start < count);
}

} // namespace

namespace genplot::detail
{

void AppendChunksTakingPoints(CLineSeg* source, CObList& destination)
{
    if (source->GetPointCount() > kChunkStep)
    {
        AppendChunks(source, destination);
        return;
    }
    // One chunk holds the whole line: it takes the source's points over instead of copying
    // them, which is the same line for everyone who reads it afterwards.
    auto* chunk = new CLineSeg;
    chunk->geometryType = source->geometryType;
    chunk->penNumber = source->penNumber;
    chunk->lineType = source->lineType;
    chunk->lineWidth = source->lineWidth;
    chunk->points.Swap(source->points);
    try
    {
        destination.AddTail(chunk);
    }
    catch (...)
    {
        // Not stored: the source gets its points back, as if nothing had been tried.
        chunk->points.Swap(source->points);
        delete chunk;
        throw;
    }
}

} // namespace genplot::detail

namespace
{

std::int64_t Magnitude(std::int64_t value)
{
    return value < 0 ? -value : value;
}

} // namespace

namespace genplot::detail
{

CBBox LineBox(const CLineSeg& line)
{
    // Kept in locals and written once: this walks every point of every stroke a host sends.
    std::int32_t minX = CBBox::kEmptyMin;
    std::int32_t minY = CBBox::kEmptyMin;
    std::int32_t maxX = CBBox::kEmptyMax;
    std::int32_t maxY = CBBox::kEmptyMax;
    for (POSITION position = line.GetHeadPosition(); position != nullptr;)
    {
        const CCoord* point = line.GetNextPoint(position);
        minX = point->x < minX ? point->x : minX;
        maxX = point->x > maxX ? point->x : maxX;
        minY = point->y < minY ? point->y : minY;
        maxY = point->y > maxY ? point->y : maxY;
    }
    CBBox box;
    box.lowerLeft.x = minX;
    box.lowerLeft.y = minY;
    box.upperRight.x = maxX;
    box.upperRight.y = maxY;
    return box;
}

} // namespace genplot::detail

CPlotInfo::CPlotInfo()
    : currentPen(1), defaultTextHeight(5000), configScale(10000.0), scaledValue1(10000.0),
      scaledValue2(10000.0), spareScale(10000.0), scaledValue3(10000.0), hostValue1(0),
      closeTolerance(0), looseLines(10), looseLabels(10), pieces(10), hostValue2(0), hostValue3(0),
      fatLineInset(50), fatLineSpacing(100), miterCosine(-0.5)
{
}

CPlotInfo::~CPlotInfo()
{
    DropRoutingIndex();
    RemovePerimeters();
    RemoveLabels();
    RemoveLooseLines();
    currentLine.RemovePointsInLineSeg();
}

void CPlotInfo::Initialize(CPlotConfig& config, double value1, double value2, double value3,
                           int textHeight)
{
    configScale = config.scaleMultiplier;
    defaultTextHeight = textHeight;
    scaledValue1 = value1 * 0.01 * config.scaleMultiplier / config.scaleDivisor;
    scaledValue2 = value2 * 0.01 * config.scaleMultiplier / config.scaleDivisor;
    scaledValue3 = value3 * 0.01 * config.scaleMultiplier / config.scaleDivisor;
}

void CPlotInfo::SetLineWidth(int width)
{
    if (width == currentLine.lineWidth)
        return;
    CheckForClosure();
    currentLine.lineWidth = width;
}

int CPlotInfo::CheckForClosure()
{
    int count = currentLine.GetPointCount();
    if (count == 0)
        return 0;
    const CCoord* first = currentLine.GetFirstPoint();
    const CCoord* last = currentLine.GetLastPoint();
    // 64-bit differences: points far apart would overflow 32 bits and could wrongly close.
    std::int64_t dx = Magnitude(static_cast<std::int64_t>(first->x) - last->x);
    std::int64_t dy = Magnitude(static_cast<std::int64_t>(first->y) - last->y);
    bool closes = count > 2 &&
                  kPieceBound - static_cast<long>(pieces.GetCount()) >= kPieceReserve &&
                  count < kMaxOutlinePoints && dx <= closeTolerance && dy <= closeTolerance;
    if (closes)
        AddNewPerim();
    else
        SaveLine();
    return 1;
}

void CPlotInfo::AddNewPerim()
{
    // A piece needs a first point; called directly on an empty line there is nothing to make.
    if (currentLine.GetPointCount() == 0)
        return;
    bool firstPiece = pieces.IsEmpty();
    const CCoord* first = currentLine.GetFirstPoint();
    CBBox box;
    box.lowerLeft = *first;
    box.upperRight = *first;
    if (firstPiece)
    {
        extents.lowerLeft = *first;
        extents.upperRight = *first;
    }
    for (POSITION position = currentLine.GetHeadPosition(); position != nullptr;)
    {
        CCoord* point = currentLine.GetNextPoint(position);
        box.Update(*point);
        extents.Update(*point);
    }
    // 64-bit sum: a box spanning most of the coordinate range would overflow 32 bits.
    std::int64_t span = (static_cast<std::int64_t>(box.upperRight.x) - box.lowerLeft.x) +
                        (static_cast<std::int64_t>(box.upperRight.y) - box.lowerLeft.y);
    double key = static_cast<double>(2 * Magnitude(span));

    currentLine.penNumber = currentPen;
    auto* piece = new CPerim;
    // The outline takes the stroke's points over rather than copying them: the current line
    // drops its points right after anyway. Taken back if the piece cannot be stored.
    piece->outline.geometryType = currentLine.geometryType;
    piece->outline.penNumber = currentLine.penNumber;
    piece->outline.lineType = currentLine.lineType;
    piece->outline.lineWidth = currentLine.lineWidth;
    piece->outline.points.Swap(currentLine.points);
    // The index follows the insertion only if it mirrored the list before it.
    if (routingIndex_ != nullptr && !routingIndex_->Mirrors(pieces))
        DropRoutingIndex();
    std::size_t before = 0;
    try
    {
        piece->box = box;
        piece->boxPerimeter = key;
        // Before the first strictly larger key, so equal keys keep the order they were made in.
        POSITION position = pieces.GetHeadPosition();
        while (position != nullptr)
        {
            POSITION here = position;
            if (static_cast<CPerim*>(pieces.GetNext(position))->boxPerimeter > key)
            {
                position = here;
                break;
            }
            ++before;
        }
        if (position != nullptr)
            pieces.InsertBefore(position, piece);
        else
            pieces.AddTail(piece);
    }
    catch (...)
    {
        piece->outline.points.Swap(currentLine.points);
        delete piece;
        throw;
    }
    NotePieceInserted(piece, before);
    currentLine.RemovePointsInLineSeg();
}

void CPlotInfo::SaveLine()
{
    if (currentLine.GetPointCount() == 0)
        return;
    currentLine.penNumber = currentPen;
    CPerim* piece = FirstPieceHolding(currentLine, genplot::detail::LineBox(currentLine));
    CObList* destination = piece != nullptr ? &piece->nonPerimeterLines : &looseLines;
    // The chunk rule, with the stored line taking the stroke's points over when it is short
    // enough to be one chunk: the current line drops them next in any case.
    genplot::detail::AppendChunksTakingPoints(&currentLine, *destination);
    currentLine.RemovePointsInLineSeg();
}

void CPlotInfo::AddLineToPiece(CLineSeg* line, CPerim* piece)
{
    // An empty line would only add an empty chunk for the writer to carry.
    if (line->GetPointCount() == 0)
        return;
    AppendChunks(line, piece->nonPerimeterLines);
}

int CPlotInfo::IsLineInBbox(CLineSeg* line, CBBox* box)
{
    for (POSITION position = line->GetHeadPosition(); position != nullptr;)
    {
        if (box->IsPtInBbox(line->GetNextPoint(position)))
            return 1;
    }
    return 0;
}

CPerim* CPlotInfo::FindPtInPiece(CCoord* point)
{
    for (POSITION position = pieces.GetHeadPosition(); position != nullptr;)
    {
        auto* piece = static_cast<CPerim*>(pieces.GetNext(position));
        if (piece->box.IsPtInBbox(point))
            return piece;
    }
    return nullptr;
}

void CPlotInfo::AddNewPc(CPerim* /*piece*/)
{
    if (routingIndex_ != nullptr && !routingIndex_->Mirrors(pieces))
        DropRoutingIndex();
    auto* fresh = new CPerim;
    try
    {
        pieces.AddTail(fresh);
    }
    catch (...)
    {
        delete fresh;
        throw;
    }
    NotePieceInserted(fresh, static_cast<std::size_t>(pieces.GetCount()) - 1);
}

void CPlotInfo::RemovePerimeters()
{
    DropRoutingIndex();
    genplot::detail::DeleteAllAndRemove(pieces);
}

genplot::detail::PieceIndex* CPlotInfo::RoutingIndex() noexcept
{
    if (pieces.GetCount() < genplot::detail::PieceIndexThreshold())
    {
        DropRoutingIndex();
        return nullptr;
    }
    if (routingIndex_ != nullptr && routingIndex_->Mirrors(pieces) && !routingIndex_->Outgrown())
        return routingIndex_;
    // Missing, out of step with a list changed behind its back, or laid out for far fewer
    // pieces: a new one from the list as it stands.
    DropRoutingIndex();
    try
    {
        routingIndex_ = new genplot::detail::PieceIndex(pieces);
    }
    catch (CException* exception)
    {
        // No memory for the index: the callers scan the list instead.
        exception->Delete();
        routingIndex_ = nullptr;
    }
    return routingIndex_;
}

void CPlotInfo::DropRoutingIndex() noexcept
{
    delete routingIndex_;
    routingIndex_ = nullptr;
}

void CPlotInfo::NotePieceInserted(CPerim* piece, std::size_t before) noexcept
{
    if (routingIndex_ == nullptr)
        return;
    try
    {
        routingIndex_->Insert(piece, before);
    }
    catch (CException* exception)
    {
        // Half told, the index no longer mirrors the list; the next query builds a new one.
        exception->Delete();
        DropRoutingIndex();
    }
}

void CPlotInfo::NotePieceBoxChanged(std::uint32_t handle) noexcept
{
    if (routingIndex_ == nullptr)
        return;
    try
    {
        if (!routingIndex_->Update(handle))
            DropRoutingIndex();
    }
    catch (CException* exception)
    {
        exception->Delete();
        DropRoutingIndex();
    }
}

CPerim* CPlotInfo::FirstPieceHolding(CLineSeg& line, const CBBox& lineBox)
{
    if (genplot::detail::PieceIndex* index = RoutingIndex())
    {
        genplot::detail::PieceIndex::Handle found = index->FirstHolding(line, lineBox);
        return found != genplot::detail::PieceIndex::kNone ? index->PieceOf(found) : nullptr;
    }
    for (POSITION position = pieces.GetHeadPosition(); position != nullptr;)
    {
        auto* piece = static_cast<CPerim*>(pieces.GetNext(position));
        if (genplot::detail::BoxesMeet(lineBox, piece->box) && IsLineInBbox(&line, &piece->box))
            return piece;
    }
    return nullptr;
}

void CPlotInfo::RemoveLabels()
{
    genplot::detail::DeleteAllAndRemove(looseLabels);
}

void CPlotInfo::RemoveLooseLines()
{
    genplot::detail::DeleteAllAndRemove(looseLines);
}
