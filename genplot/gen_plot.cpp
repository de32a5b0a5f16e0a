#include "genplot/gen_plot.h"

#include "genplot/byte_order_internal.h"
#include "genplot/gen_plot_internal.h"
#include "genplot/gen_plot_records_internal.h"
#include "geometry/label.h"
#include "geometry/label_extent_internal.h"
#include "geometry/perim.h"
#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"

#include <cstring>

// The writer of the generic plot file; the layout is the table in genplot/plot_file_format.h.
// CGenPlot::header holds the header body exactly as the file does (body offsets).

using namespace genplot;
using namespace genplot::detail;

static_assert(sizeof(CGenPlot) == kHeaderBodySize, "CGenPlot is exactly the header body");

namespace
{

constexpr double kProgressStart = 75.0;
constexpr double kProgressSpan = 75.0;

void PutSectionOffset(std::uint8_t* header, std::uint32_t slot, std::int32_t offset)
{
    PutI32(header + header::kSectionOffsets + 4 * slot, offset);
}

void SetProgress(CProgressCtrl* progress, double position)
{
    if (progress != nullptr)
    {
        progress->SetPos(static_cast<int>(position));
    }
}

// Hands one pending message of the thread to the host's handlers, never waiting for one.
void PumpOneMessage()
{
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && !IsDialogMessageA(nullptr, &message))
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool IsWrittenLabel(const CObject* entry)
{
    return entry != nullptr && !static_cast<const CLabel*>(entry)->text.IsEmpty();
}

INT_PTR CountWrittenLabels(const CObList& labels)
{
    INT_PTR count = 0;
    for (POSITION at = labels.GetHeadPosition(); at != nullptr;)
    {
        count += IsWrittenLabel(labels.GetNext(at)) ? 1 : 0;
    }
    return count;
}

// Safer than writing whatever comes: the piece count and both annotation counts are 16-bit
// fields, and a count cut to 16 bits would disagree with what follows it. A plot past them
// is refused before a single byte is written.
bool FitsTheFormat(const CPlotInfo& plot)
{
    if (plot.pieces.GetCount() > static_cast<INT_PTR>(kMaxPieces))
    {
        return false;
    }
    if (CountWrittenLabels(plot.looseLabels) > static_cast<INT_PTR>(kMaxAnnotationsPerSection))
    {
        return false;
    }
    INT_PTR pieceLabels = 0;
    for (POSITION at = plot.pieces.GetHeadPosition(); at != nullptr;)
    {
        pieceLabels +=
            CountWrittenLabels(static_cast<const CPerim*>(plot.pieces.GetNext(at))->labels);
    }
    return pieceLabels <= static_cast<INT_PTR>(kMaxAnnotationsPerSection);
}

void PutPenMode(RecordBuffer& out, const int* penTable, std::int32_t pen)
{
    const bool on = penTable == nullptr || penTable[pen] != 0;
    PutEmptyRecord(out, on ? RecordType::PenMode : RecordType::PenModeOff);
}

// The header fields that come from the plot: final in the header written first.
void TakePlotFields(std::uint8_t* header, const CPlotInfo& plot)
{
    PutI32(header + header::kExtents, plot.extents.lowerLeft.x);
    PutI32(header + header::kExtents + 4, plot.extents.lowerLeft.y);
    PutI32(header + header::kExtents + 8, plot.extents.upperRight.x);
    PutI32(header + header::kExtents + 12, plot.extents.upperRight.y);
    PutI32(header + header::kDefaultTextHeight, plot.defaultTextHeight);
    PutU16(header + header::kPieceCount, static_cast<std::uint16_t>(plot.pieces.GetCount()));
}

/// One write_plot_file call: a step per part of the file, each false when the write must stop
/// (a refused byte, an offset past 32 bits, or a cancel).
class PlotFileWriter
{
  public:
    PlotFileWriter(std::uint8_t* header, std::FILE* file, const CPlotInfo& plot,
                   CProgressCtrl* progress, const int* cancelFlag, const int* penTable)
        : header_(header), file_(file), out_(file), plot_(plot), progress_(progress),
          cancelFlag_(cancelFlag), penTable_(penTable),
          pieceCount_(GetU16(header_ + header::kPieceCount)),
          perPiece_(pieceCount_ > 0 ? kProgressSpan / pieceCount_ : 0.0)
    {
    }

    /// The header record as the header stands (its first state), then the two markers.
    bool WriteHeaderRecord()
    {
        if (!TellFlushed(&headerBody_))
        {
            return false;
        }
        headerBody_ += kRecordHeaderSize;
        PutRecordHeader(out_.Reserve(kRecordHeaderSize), RecordType::Header, kHeaderBodySize);
        std::memcpy(out_.Reserve(kHeaderBodySize), header_, kHeaderBodySize);
        PutEmptyRecord(out_, RecordType::Marker1);
        PutEmptyRecord(out_, RecordType::Marker2);
        return true;
    }

    /// The piece-table record, every entry with recordOffset -1 until its section is written.
    bool WritePieceTable()
    {
        std::int32_t offset = 0;
        if (!TellOffset(&offset))
        {
            return false;
        }
        PutSectionOffset(header_, header::kPieceTableSlot, offset);
        PutPieceTableHead(out_, pieceCount_);
        if (!TellFlushed(&firstEntry_))
        {
            return false;
        }
        for (POSITION at = plot_.pieces.GetHeadPosition(); at != nullptr;)
        {
            PutPieceEntry(out_, PieceAt(plot_.pieces, at).box, kAbsentOffset);
        }
        return true;
    }

    /// One section per piece, in piece-table order. Each entry gets its section's offset once
    /// the section is written; the entries are patched a batch at a time, so the stream is
    /// sought back once per batch rather than once per piece.
    bool WritePieceSections()
    {
        pendingFirst_ = plot_.pieces.GetHeadPosition();
        for (POSITION at = pendingFirst_; at != nullptr;)
        {
            const CPerim& piece = PieceAt(plot_.pieces, at);
            std::int32_t start = 0;
            if (!TellOffset(&start))
            {
                return false;
            }
            pendingStarts_[pendingCount_++] = start;
            const bool written = WritePieceSection(piece);
            if (written && pendingCount_ == kPatchBatch && !PatchPieceEntries())
            {
                return false;
            }
            if (!written)
            {
                // A cancel leaves the file in its cancelled state: the entries of the pieces
                // before this one patched, this one's and the later ones -1.
                --pendingCount_;
                PatchPieceEntries();
                return false;
            }
            ++piecesDone_;
            if (!out_.Flush())
            {
                return false;
            }
            SetProgress(progress_, piecesDone_ * perPiece_ + kProgressStart);
        }
        return PatchPieceEntries();
    }

    /// Loose labels first, then every piece's labels in piece order. A section's offset is
    /// where its first record starts, -1 when it has none.
    bool WriteAnnotationSections()
    {
        long start = 0;
        std::uint16_t count = 0;
        if (!TellFlushed(&start))
        {
            return false;
        }
        PutLabels(plot_.looseLabels, &count);
        if (!CloseSection(start, count, header::kLooseAnnotationCount,
                          header::kLooseAnnotationSlot))
        {
            return false;
        }
        count = 0;
        if (!TellFlushed(&start))
        {
            return false;
        }
        for (POSITION at = plot_.pieces.GetHeadPosition(); at != nullptr;)
        {
            PutLabels(PieceAt(plot_.pieces, at).labels, &count);
        }
        return CloseSection(start, count, header::kPieceAnnotationCount,
                            header::kPieceAnnotationSlot);
    }

    /// The end record, then the header body again with its final counts and offsets. The
    /// stream is left just after the header body.
    bool WriteEndAndFinalHeader()
    {
        PutEmptyRecord(out_, RecordType::End);
        if (!out_.Flush() || !SeekTo(file_, headerBody_))
        {
            return false;
        }
        std::memcpy(out_.Reserve(kHeaderBodySize), header_, kHeaderBodySize);
        // The final header would sit in the stream's buffer; pushing it out here lets a
        // failure show in the result instead of only in the host's fclose.
        return out_.Flush() && std::fflush(file_) == 0;
    }

  private:
    // Pieces whose entries wait for their patch; a small fixed batch keeps the writer off the
    // heap.
    static constexpr int kPatchBatch = 64;

    static const CPerim& PieceAt(const CObList& pieces, POSITION& at)
    {
        return *static_cast<const CPerim*>(pieces.GetNext(at));
    }

    // Positions are asked of the stream, so everything buffered goes to it first.
    bool TellFlushed(long* position)
    {
        return out_.Flush() && Tell(file_, position);
    }

    bool TellOffset(std::int32_t* offset)
    {
        long position = 0;
        return TellFlushed(&position) && ToOffset(position, offset);
    }

    // Pen mode, line type and polyline of the outline, then of each non-perimeter line the
    // records its pen and line type call for and its polyline, then the piece end. The
    // records of each line reach the stream before its progress is reported.
    bool WritePieceSection(const CPerim& piece)
    {
        std::uint8_t code = line_type_code(&piece.outline);
        std::int32_t currentPen = piece.outline.penNumber;
        PutPenMode(out_, penTable_, currentPen);
        PutLineTypeRecord(out_, code);
        PutPolylineRecords(out_, piece.outline);

        const double perLine =
            perPiece_ / static_cast<double>(piece.nonPerimeterLines.GetCount() + 1);
        int i = 0;
        for (POSITION at = piece.nonPerimeterLines.GetHeadPosition(); at != nullptr;)
        {
            const auto* line = static_cast<const CLineSeg*>(piece.nonPerimeterLines.GetNext(at));
            // Without a pen table the outline's pen mode holds for the whole piece.
            if (penTable_ != nullptr && line->penNumber != currentPen)
            {
                currentPen = line->penNumber;
                PutPenMode(out_, penTable_, currentPen);
            }
            if (line_type_code(line) != code)
            {
                code = line_type_code(line);
                PutLineTypeRecord(out_, code);
            }
            PutPolylineRecords(out_, *line);
            if (!out_.Flush())
            {
                failed_ = true;
                return false;
            }
            SetProgress(progress_, i * perLine + piecesDone_ * perPiece_ + kProgressStart);
            ++i;
            PumpOneMessage();
            if (cancelFlag_ != nullptr && *cancelFlag_ != 0)
            {
                return false;
            }
        }
        PutEmptyRecord(out_, RecordType::PieceEnd);
        return true;
    }

    // Rewrites the waiting entries with where their sections start, in one run, then comes
    // back to the end.
    bool PatchPieceEntries()
    {
        if (failed_)
        {
            return false;
        }
        if (pendingCount_ == 0)
        {
            return true;
        }
        const long entry = firstEntry_ + static_cast<long>(kPieceEntrySize) * patchedCount_;
        long end = 0;
        if (!TellFlushed(&end) || !SeekTo(file_, entry))
        {
            return false;
        }
        for (int i = 0; i < pendingCount_; ++i)
        {
            PutPieceEntry(out_, PieceAt(plot_.pieces, pendingFirst_).box, pendingStarts_[i]);
        }
        patchedCount_ += pendingCount_;
        pendingCount_ = 0;
        return out_.Flush() && SeekTo(file_, end);
    }

    void PutLabels(const CObList& labels, std::uint16_t* count)
    {
        const std::int32_t defaultTextHeight = GetI32(header_ + header::kDefaultTextHeight);
        for (POSITION at = labels.GetHeadPosition(); at != nullptr;)
        {
            CObject* entry = labels.GetNext(at);
            if (IsWrittenLabel(entry))
            {
                PutAnnotationRecord(out_, *static_cast<const CLabel*>(entry), defaultTextHeight);
                ++*count;
            }
        }
    }

    bool CloseSection(long start, std::uint16_t count, std::uint32_t countField, std::uint32_t slot)
    {
        std::int32_t offset = kAbsentOffset;
        if (count > 0 && !ToOffset(start, &offset))
        {
            return false;
        }
        PutU16(header_ + countField, count);
        PutSectionOffset(header_, slot, offset);
        return true;
    }

    std::uint8_t* header_;
    std::FILE* file_;
    RecordBuffer out_;
    const CPlotInfo& plot_;
    CProgressCtrl* progress_;
    const int* cancelFlag_;
    const int* penTable_;
    const std::uint16_t pieceCount_;
    const double perPiece_;
    long headerBody_ = 0; // where the header body starts, for the final header
    long firstEntry_ = 0; // where the piece table's entries start
    int piecesDone_ = 0;
    bool failed_ = false; // a write was refused: nothing more, not even a patch
    // The entries written with -1 and not yet patched: from the piece at pendingFirst_ on.
    POSITION pendingFirst_ = nullptr;
    int patchedCount_ = 0;
    int pendingCount_ = 0;
    std::int32_t pendingStarts_[kPatchBatch] = {};
};

} // namespace

CGenPlot::CGenPlot() : header{}
{
}

CGenPlot::~CGenPlot() = default;

CGenPlot::CGenPlot(const CGenPlot& other)
{
    std::memcpy(header, other.header, sizeof header);
}

CGenPlot& CGenPlot::operator=(const CGenPlot& other)
{
    std::memmove(header, other.header, sizeof header);
    return *this;
}

void CGenPlot::Initialize(const char* sourceName, CPlotConfig* config)
{
    // The padding byte and the 12 bytes after the counts are never assigned by the format;
    // clearing the whole body first keeps them zero in every file.
    std::memset(header, 0, sizeof header);
    std::memcpy(header + header::kMagic, kMagic, sizeof kMagic);
    // Bounded copy: a 20-byte name fills the field with no terminator of its own, the next
    // byte (always 0) ends it.
    for (std::uint32_t i = 0; i < kSourceNameSize && sourceName[i] != '\0'; ++i)
    {
        header[header::kSourceName + i] = static_cast<std::uint8_t>(sourceName[i]);
    }
    PutU16(header + header::kConfigFlag, config->configFlag != 0 ? 1 : 0);
    PutI32(header + header::kDefaultTextHeight, config->configValue6);
    // The file's order swaps the first two values.
    const std::int32_t values[header::kConfigValueCount] = {
        config->configValue2, config->configValue1, config->configValue3, config->configValue4,
        config->configValue5};
    for (std::uint32_t i = 0; i < header::kConfigValueCount; ++i)
    {
        PutI32(header + header::kConfigValues + 4 * i, values[i]);
    }
    header[header::kFlagBytes] = 255;
    header[header::kFlagBytes + 1] = 255;
    for (std::uint32_t slot = 0; slot < header::kSectionSlots; ++slot)
    {
        PutSectionOffset(header, slot, kAbsentOffset);
    }
}

int CGenPlot::write_plot_file(FILE* file, CPlotInfo* plotInfo, CPlotConfig*,
                              CProgressCtrl* progress, int* cancelFlag, int* penTable)
{
    const CPlotInfo& plot = *plotInfo;
    if (!FitsTheFormat(plot))
    {
        return 0;
    }
    TakePlotFields(header, plot);

    // The file in its order. Every write, seek and position query is checked: on a full disk
    // or a failing stream the write stops at once with 0, so an incomplete file is never
    // reported as complete. A cancel also stops it with 0, in the middle of a piece section.
    PlotFileWriter writer(header, file, plot, progress, cancelFlag, penTable);
    return writer.WriteHeaderRecord() && writer.WritePieceTable() && writer.WritePieceSections() &&
                   writer.WriteAnnotationSections() && writer.WriteEndAndFinalHeader()
               ? 1
               : 0;
}

int CGenPlot::write_annotation(CLabel* label, FILE* file)
{
    RecordBuffer out(file);
    PutAnnotationRecord(out, *label, GetI32(header + header::kDefaultTextHeight));
    return out.Flush() ? 1 : 0;
}
