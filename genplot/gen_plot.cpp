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

bool WritePenMode(std::FILE* file, const int* penTable, std::int32_t pen)
{
    const bool on = penTable == nullptr || penTable[pen] != 0;
    return WriteEmptyRecord(file, on ? RecordType::PenMode : RecordType::PenModeOff);
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
    PlotFileWriter(CGenPlot& plotFile, std::FILE* file, const CPlotInfo& plot,
                   CProgressCtrl* progress, const int* cancelFlag, const int* penTable)
        : plotFile_(plotFile), header_(plotFile.header), file_(file), plot_(plot),
          progress_(progress), cancelFlag_(cancelFlag), penTable_(penTable),
          pieceCount_(GetU16(header_ + header::kPieceCount)),
          perPiece_(pieceCount_ > 0 ? kProgressSpan / pieceCount_ : 0.0)
    {
    }

    /// The header record as the header stands (its first state), then the two markers.
    bool WriteHeaderRecord()
    {
        RecordBuffer record(file_);
        PutRecordHeader(record.Reserve(kRecordHeaderSize), RecordType::Header, kHeaderBodySize);
        std::memcpy(record.Reserve(kHeaderBodySize), header_, kHeaderBodySize);
        if (!Tell(file_, &headerBody_) || !record.Flush())
        {
            return false;
        }
        headerBody_ += kRecordHeaderSize;
        return WriteEmptyRecord(file_, RecordType::Marker1) &&
               WriteEmptyRecord(file_, RecordType::Marker2);
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
        if (!WritePieceTableHead(file_, pieceCount_) || !Tell(file_, &nextEntry_))
        {
            return false;
        }
        for (POSITION at = plot_.pieces.GetHeadPosition(); at != nullptr;)
        {
            if (!WritePieceEntry(file_, PieceAt(plot_.pieces, at).box, kAbsentOffset))
            {
                return false;
            }
        }
        return true;
    }

    /// One section per piece, in piece-table order, each entry patched once its section is
    /// written.
    bool WritePieceSections()
    {
        for (POSITION at = plot_.pieces.GetHeadPosition(); at != nullptr;)
        {
            const CPerim& piece = PieceAt(plot_.pieces, at);
            std::int32_t start = 0;
            if (!TellOffset(&start) || !WritePieceSection(piece) || !PatchPieceEntry(piece, start))
            {
                return false;
            }
            ++piecesDone_;
            SetProgress(progress_, piecesDone_ * perPiece_ + kProgressStart);
        }
        return true;
    }

    /// Loose labels first, then every piece's labels in piece order. A section's offset is
    /// where its first record starts, -1 when it has none.
    bool WriteAnnotationSections()
    {
        long start = 0;
        std::uint16_t count = 0;
        if (!Tell(file_, &start) || !WriteLabels(plot_.looseLabels, &count) ||
            !CloseSection(start, count, header::kLooseAnnotationCount,
                          header::kLooseAnnotationSlot))
        {
            return false;
        }
        count = 0;
        if (!Tell(file_, &start))
        {
            return false;
        }
        for (POSITION at = plot_.pieces.GetHeadPosition(); at != nullptr;)
        {
            if (!WriteLabels(PieceAt(plot_.pieces, at).labels, &count))
            {
                return false;
            }
        }
        return CloseSection(start, count, header::kPieceAnnotationCount,
                            header::kPieceAnnotationSlot);
    }

    /// The end record, then the header body again with its final counts and offsets. The
    /// stream is left just after the header body.
    bool WriteEndAndFinalHeader()
    {
        if (!WriteEmptyRecord(file_, RecordType::End) || !SeekTo(file_, headerBody_) ||
            !WriteRaw(file_, header_, kHeaderBodySize))
        {
            return false;
        }
        // The final header sits in the stream's buffer; pushing it out here lets a failure
        // show in the result instead of only in the host's fclose.
        return std::fflush(file_) == 0;
    }

  private:
    static const CPerim& PieceAt(const CObList& pieces, POSITION& at)
    {
        return *static_cast<const CPerim*>(pieces.GetNext(at));
    }

    bool TellOffset(std::int32_t* offset)
    {
        long position = 0;
        return Tell(file_, &position) && ToOffset(position, offset);
    }

    // Pen mode, line type and polyline of the outline, then of each non-perimeter line the
    // records its pen and line type call for and its polyline, then the piece end.
    bool WritePieceSection(const CPerim& piece)
    {
        std::uint8_t code = line_type_code(&piece.outline);
        std::int32_t currentPen = piece.outline.penNumber;
        if (!WritePenMode(file_, penTable_, currentPen) || !WriteLineTypeRecord(file_, code) ||
            !WritePolylineRecords(file_, piece.outline))
        {
            return false;
        }

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
                if (!WritePenMode(file_, penTable_, currentPen))
                {
                    return false;
                }
            }
            if (line_type_code(line) != code)
            {
                code = line_type_code(line);
                if (!WriteLineTypeRecord(file_, code))
                {
                    return false;
                }
            }
            if (!WritePolylineRecords(file_, *line))
            {
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
        return WriteEmptyRecord(file_, RecordType::PieceEnd);
    }

    // Rewrites the piece's entry with where its section starts, then comes back to the end.
    bool PatchPieceEntry(const CPerim& piece, std::int32_t start)
    {
        long end = 0;
        return Tell(file_, &end) && SeekTo(file_, nextEntry_) &&
               WritePieceEntry(file_, piece.box, start) && Tell(file_, &nextEntry_) &&
               SeekTo(file_, end);
    }

    bool WriteLabels(const CObList& labels, std::uint16_t* count)
    {
        for (POSITION at = labels.GetHeadPosition(); at != nullptr;)
        {
            CObject* entry = labels.GetNext(at);
            if (!IsWrittenLabel(entry))
            {
                continue;
            }
            if (!plotFile_.write_annotation(static_cast<CLabel*>(entry), file_))
            {
                return false;
            }
            ++*count;
        }
        return true;
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

    CGenPlot& plotFile_;
    std::uint8_t* header_;
    std::FILE* file_;
    const CPlotInfo& plot_;
    CProgressCtrl* progress_;
    const int* cancelFlag_;
    const int* penTable_;
    const std::uint16_t pieceCount_;
    const double perPiece_;
    long headerBody_ = 0; // where the header body starts, for the final header
    long nextEntry_ = 0;  // the piece-table entry of the next piece section
    int piecesDone_ = 0;
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
    PlotFileWriter writer(*this, file, plot, progress, cancelFlag, penTable);
    return writer.WriteHeaderRecord() && writer.WritePieceTable() && writer.WritePieceSections() &&
                   writer.WriteAnnotationSections() && writer.WriteEndAndFinalHeader()
               ? 1
               : 0;
}

int CGenPlot::write_annotation(CLabel* label, FILE* file)
{
    char text[kMaxAnnotationText + 1];
    // At most the first 511 bytes of the text, up to its first NUL, and always a terminator.
    const char* source = label->text.GetString();
    std::size_t copied = 0;
    while (copied < kMaxAnnotationText && source[copied] != '\0')
    {
        text[copied] = source[copied];
        ++copied;
    }
    text[copied] = '\0';
    const int textLength = clean_annotation_text(text);

    std::uint8_t flags = 0;
    std::uint32_t length = kAnnotationFixedSize + static_cast<std::uint32_t>(textLength);
    const bool hasDirection =
        label->directionX != kPlainDirectionX || label->directionY != kPlainDirectionY;
    if (hasDirection)
    {
        flags |= kAnnotationHasDirection;
        length += kAnnotationDirectionSize;
    }
    const bool hasHeight = label->textHeight != GetI32(header + header::kDefaultTextHeight);
    if (hasHeight)
    {
        flags |= kAnnotationHasHeight;
        length += kAnnotationHeightSize;
    }

    CBBox extent;
    ComputeLabelExtent(label->position.x, label->position.y, label->directionX, label->directionY,
                       label->justification, text, label->textHeight, &extent);

    RecordBuffer record(file);
    std::uint8_t* at = record.Reserve(kRecordHeaderSize + length);
    PutRecordHeader(at, RecordType::Annotation, static_cast<std::uint16_t>(length));
    std::uint8_t* fixed = at + kRecordHeaderSize;
    std::memset(fixed, 0, kAnnotationFixedSize);
    PutU16(fixed + annotation::kTextLength, static_cast<std::uint16_t>(textLength));
    PutU8(fixed + annotation::kFlags, flags);
    PutU8(fixed + annotation::kJustification, static_cast<std::uint8_t>(label->justification));
    PutI32(fixed + annotation::kExtent, extent.lowerLeft.x);
    PutI32(fixed + annotation::kExtent + 4, extent.lowerLeft.y);
    PutI32(fixed + annotation::kExtent + 8, extent.upperRight.x);
    PutI32(fixed + annotation::kExtent + 12, extent.upperRight.y);
    PutI32(fixed + annotation::kPosition, label->position.x);
    PutI32(fixed + annotation::kPosition + 4, label->position.y);
    std::uint8_t* optional = fixed + kAnnotationFixedSize;
    if (hasDirection)
    {
        PutI32(optional, label->directionX);
        PutI32(optional + 4, label->directionY);
        optional += kAnnotationDirectionSize;
    }
    if (hasHeight)
    {
        PutI32(optional, label->textHeight);
        optional += kAnnotationHeightSize;
    }
    std::memcpy(optional, text, static_cast<std::size_t>(textLength));
    return record.Flush() ? 1 : 0;
}
