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

// Header body, as held in CGenPlot::header and written at file offset 4 (body offsets):
//     0   8  magic "GENPTV1\0"           58  12  zero (never assigned)
//     8  20  source name, NUL-padded     70 i32  defaultTextHeight
//    28   1  0                           74 i32  0
//    29   1  zero (never assigned)       78 i32  0
//    30 u16  configFlag 0/1              82 5xi32 configValue2, 1, 3, 4, 5
//    32 u16  0                          102 i32  0
//    34 4xi32 extents                   106 i32  0
//    50 u16  looseAnnotationCount       110   2  255, 255
//    52 u16  pieceAnnotationCount       112 7xi32 section offsets; slots 2 (loose annotations),
//    54 u16  pieceCount                           4 (piece table), 5 (piece annotations)
//    56 u16  0                                    are set, the others stay -1
//
// Annotation record (0x0500), offsets within the payload:
//     0 u16  textLength T            6 4xi32 extent lowerLeft x, y, upperRight x, y
//     2  u8  flags 0x01 | 0x10      22 2xi32 position x, y
//     3   2  0                      30 [2xi32 direction]  [i32 textHeight]  T text bytes
//     5  u8  justification (low 8 bits)

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

    PutI32(header + header::kExtents, plot.extents.lowerLeft.x);
    PutI32(header + header::kExtents + 4, plot.extents.lowerLeft.y);
    PutI32(header + header::kExtents + 8, plot.extents.upperRight.x);
    PutI32(header + header::kExtents + 12, plot.extents.upperRight.y);
    PutI32(header + header::kDefaultTextHeight, plot.defaultTextHeight);
    const auto pieceCount = static_cast<std::uint16_t>(plot.pieces.GetCount());
    PutU16(header + header::kPieceCount, pieceCount);
    const double perPiece = pieceCount > 0 ? kProgressSpan / pieceCount : 0.0;

    // Every write, seek and position query is checked: on a full disk or a failing stream
    // the write stops at once with 0, so an incomplete file is never reported as complete.
    long headerBody = 0;
    {
        RecordBuffer record(file);
        PutRecordHeader(record.Reserve(kRecordHeaderSize), RecordType::Header, kHeaderBodySize);
        std::memcpy(record.Reserve(kHeaderBodySize), header, kHeaderBodySize);
        if (!Tell(file, &headerBody) || !record.Flush())
        {
            return 0;
        }
        headerBody += kRecordHeaderSize;
    }
    if (!WriteEmptyRecord(file, RecordType::Marker1) ||
        !WriteEmptyRecord(file, RecordType::Marker2))
    {
        return 0;
    }

    long position = 0;
    std::int32_t offset = 0;
    if (!Tell(file, &position) || !ToOffset(position, &offset))
    {
        return 0;
    }
    PutSectionOffset(header, header::kPieceTableSlot, offset);
    long entry = 0;
    if (!WritePieceTableHead(file, pieceCount) || !Tell(file, &entry))
    {
        return 0;
    }
    for (POSITION at = plot.pieces.GetHeadPosition(); at != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(at));
        if (!WritePieceEntry(file, piece->box, kAbsentOffset))
        {
            return 0;
        }
    }

    int piecesDone = 0;
    for (POSITION at = plot.pieces.GetHeadPosition(); at != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(at));
        std::int32_t start = 0;
        if (!Tell(file, &position) || !ToOffset(position, &start))
        {
            return 0;
        }
        std::uint8_t code = line_type_code(&piece->outline);
        std::int32_t currentPen = piece->outline.penNumber;
        if (!WritePenMode(file, penTable, currentPen) || !WriteLineTypeRecord(file, code) ||
            !WritePolylineRecords(file, piece->outline))
        {
            return 0;
        }

        const double perLine =
            perPiece / static_cast<double>(piece->nonPerimeterLines.GetCount() + 1);
        int i = 0;
        for (POSITION lineAt = piece->nonPerimeterLines.GetHeadPosition(); lineAt != nullptr;)
        {
            const auto* line =
                static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(lineAt));
            // Without a pen table the outline's pen mode holds for the whole piece.
            if (penTable != nullptr && line->penNumber != currentPen)
            {
                currentPen = line->penNumber;
                if (!WritePenMode(file, penTable, currentPen))
                {
                    return 0;
                }
            }
            if (line_type_code(line) != code)
            {
                code = line_type_code(line);
                if (!WriteLineTypeRecord(file, code))
                {
                    return 0;
                }
            }
            if (!WritePolylineRecords(file, *line))
            {
                return 0;
            }
            SetProgress(progress, i * perLine + piecesDone * perPiece + kProgressStart);
            ++i;
            PumpOneMessage();
            if (cancelFlag != nullptr && *cancelFlag != 0)
            {
                return 0;
            }
        }
        if (!WriteEmptyRecord(file, RecordType::PieceEnd))
        {
            return 0;
        }

        // Patch this piece's table entry with where its section starts, then come back.
        long end = 0;
        if (!Tell(file, &end) || !SeekTo(file, entry) ||
            !WritePieceEntry(file, piece->box, start) || !Tell(file, &entry) || !SeekTo(file, end))
        {
            return 0;
        }
        ++piecesDone;
        SetProgress(progress, piecesDone * perPiece + kProgressStart);
    }

    // Annotation sections: loose labels first, then every piece's labels in piece order. A
    // section's offset is where its first record starts, -1 when it has none.
    std::uint16_t count = 0;
    auto writeLabels = [&](const CObList& labels) {
        for (POSITION at = labels.GetHeadPosition(); at != nullptr;)
        {
            CObject* entry = labels.GetNext(at);
            if (!IsWrittenLabel(entry))
                continue;
            if (!write_annotation(static_cast<CLabel*>(entry), file))
                return false;
            ++count;
        }
        return true;
    };
    auto closeSection = [&](std::uint32_t countField, std::uint32_t slot) {
        if (count > 0 && !ToOffset(position, &offset))
            return false;
        PutU16(header + countField, count);
        PutSectionOffset(header, slot, count > 0 ? offset : kAbsentOffset);
        count = 0;
        return true;
    };

    if (!Tell(file, &position) || !writeLabels(plot.looseLabels) ||
        !closeSection(header::kLooseAnnotationCount, header::kLooseAnnotationSlot))
    {
        return 0;
    }
    if (!Tell(file, &position))
    {
        return 0;
    }
    for (POSITION at = plot.pieces.GetHeadPosition(); at != nullptr;)
    {
        if (!writeLabels(static_cast<const CPerim*>(plot.pieces.GetNext(at))->labels))
        {
            return 0;
        }
    }
    if (!closeSection(header::kPieceAnnotationCount, header::kPieceAnnotationSlot))
    {
        return 0;
    }

    if (!WriteEmptyRecord(file, RecordType::End) || !SeekTo(file, headerBody) ||
        !WriteRaw(file, header, kHeaderBodySize))
    {
        return 0;
    }
    // The final header sits in the stream's buffer; pushing it out here lets a failure show
    // in the result instead of only in the host's fclose. The position stays after the header.
    return std::fflush(file) == 0 ? 1 : 0;
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
