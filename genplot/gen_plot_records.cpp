#include "genplot/byte_order_internal.h"
#include "genplot/gen_plot_internal.h"
#include "genplot/gen_plot_records_internal.h"
#include "geometry/bbox.h"
#include "geometry/label.h"
#include "geometry/label_extent_internal.h"
#include "geometry/line_seg.h"

#include <algorithm>
#include <cstring>
#include <limits>

// One writer per record kind, each putting the fields of the layout table in
// genplot/plot_file_format.h into a small buffer.

namespace genplot::detail
{

static_assert(RecordBuffer::kCapacity >= kRecordHeaderSize + kAnnotationFixedSize +
                                             kAnnotationDirectionSize + kAnnotationHeightSize +
                                             kMaxAnnotationText);

bool RecordBuffer::Flush()
{
    if (used_ > 0 && !failed_)
    {
        // glibc's fwrite reports a full count when the stream's own flush fails (it counts
        // the bytes as buffered); only the stream's error flag tells.
        failed_ = std::fwrite(data_, 1, used_, file_) != used_ || std::ferror(file_) != 0;
    }
    used_ = 0;
    return !failed_;
}

void PutRecordHeader(std::uint8_t* at, RecordType type, std::uint16_t length)
{
    PutU16(at, static_cast<std::uint16_t>(type));
    PutU16(at + 2, length);
}

void PutEmptyRecord(RecordBuffer& out, RecordType type)
{
    PutRecordHeader(out.Reserve(kRecordHeaderSize), type, 0);
}

void PutLineTypeRecord(RecordBuffer& out, std::uint8_t code)
{
    std::uint8_t* at = out.Reserve(kRecordHeaderSize + 1);
    PutRecordHeader(at, RecordType::LineType, 1);
    PutU8(at + kRecordHeaderSize, code);
}

void PutPieceTableHead(RecordBuffer& out, std::uint16_t pieceCount)
{
    PutRecordHeader(out.Reserve(kRecordHeaderSize), RecordType::PieceTable,
                    static_cast<std::uint16_t>(kPieceEntrySize * pieceCount));
}

void PutPieceEntry(RecordBuffer& out, const CBBox& box, std::int32_t recordOffset)
{
    std::uint8_t* at = out.Reserve(kPieceEntrySize);
    PutI32(at, box.lowerLeft.x);
    PutI32(at + 4, box.lowerLeft.y);
    PutI32(at + 8, box.upperRight.x);
    PutI32(at + 12, box.upperRight.y);
    PutI32(at + kPieceEntryRecordOffset, recordOffset);
}

namespace
{

std::uint8_t* PutPoint(std::uint8_t* at, std::int32_t x, std::int32_t y)
{
    PutI32(at, x);
    PutI32(at + 4, y);
    PutU16(at + 8, 0);
    return at + kPointEntrySize;
}

} // namespace

void PutPolylineRecords(RecordBuffer& out, const CLineSeg& line)
{
    // Safer than one record per line: a stroke from the fat-line pass can hold more points
    // than the 16-bit length can count. Instead of a length that disagrees with what follows,
    // the line goes out as consecutive records; each repeats the last point of the one before,
    // so the drawn path stays continuous and every length matches its points.
    std::size_t remaining = static_cast<std::size_t>(line.GetPointCount());
    POSITION position = line.GetHeadPosition();
    bool carry = false;
    std::int32_t lastX = 0;
    std::int32_t lastY = 0;
    do
    {
        const std::size_t carried = carry ? 1 : 0;
        const std::size_t count = std::min<std::size_t>(remaining + carried, kMaxPolylinePoints);
        std::uint8_t* at = out.Reserve(kRecordHeaderSize + kPolylineHeadSize);
        PutRecordHeader(at, RecordType::Polyline,
                        static_cast<std::uint16_t>(kPointEntrySize * count + kPolylineHeadSize));
        PutU16(at + kRecordHeaderSize, kPointListTag);
        PutU16(at + kRecordHeaderSize + 2, static_cast<std::uint16_t>(count));
        if (carry)
        {
            PutPoint(out.Reserve(kPointEntrySize), lastX, lastY);
        }
        // The points go in runs as long as the buffer has room for: one room check per run
        // rather than per point.
        for (std::size_t left = count - carried; left > 0;)
        {
            std::size_t run = std::min(left, out.Room() / kPointEntrySize);
            if (run == 0)
            {
                out.Flush();
                continue;
            }
            std::uint8_t* entry = out.Reserve(run * kPointEntrySize);
            left -= run;
            for (; run > 0; --run)
            {
                const CCoord* point = line.GetNextPoint(position);
                lastX = point->x;
                lastY = point->y;
                entry = PutPoint(entry, lastX, lastY);
            }
        }
        remaining -= count - carried;
        carry = true;
    } while (remaining > 0);
}

void PutAnnotationRecord(RecordBuffer& out, const CLabel& label, std::int32_t defaultTextHeight)
{
    char text[kMaxAnnotationText + 1];
    // At most the first 511 bytes of the text, up to its first NUL, and always a terminator.
    const char* source = label.text.GetString();
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
        label.directionX != kPlainDirectionX || label.directionY != kPlainDirectionY;
    if (hasDirection)
    {
        flags |= kAnnotationHasDirection;
        length += kAnnotationDirectionSize;
    }
    const bool hasHeight = label.textHeight != defaultTextHeight;
    if (hasHeight)
    {
        flags |= kAnnotationHasHeight;
        length += kAnnotationHeightSize;
    }

    CBBox extent;
    ComputeLabelExtent(label.position.x, label.position.y, label.directionX, label.directionY,
                       label.justification, text, label.textHeight, &extent);

    std::uint8_t* at = out.Reserve(kRecordHeaderSize + length);
    PutRecordHeader(at, RecordType::Annotation, static_cast<std::uint16_t>(length));
    std::uint8_t* fixed = at + kRecordHeaderSize;
    std::memset(fixed, 0, kAnnotationFixedSize);
    PutU16(fixed + annotation::kTextLength, static_cast<std::uint16_t>(textLength));
    PutU8(fixed + annotation::kFlags, flags);
    PutU8(fixed + annotation::kJustification, static_cast<std::uint8_t>(label.justification));
    PutI32(fixed + annotation::kExtent, extent.lowerLeft.x);
    PutI32(fixed + annotation::kExtent + 4, extent.lowerLeft.y);
    PutI32(fixed + annotation::kExtent + 8, extent.upperRight.x);
    PutI32(fixed + annotation::kExtent + 12, extent.upperRight.y);
    PutI32(fixed + annotation::kPosition, label.position.x);
    PutI32(fixed + annotation::kPosition + 4, label.position.y);
    std::uint8_t* optional = fixed + kAnnotationFixedSize;
    if (hasDirection)
    {
        PutI32(optional, label.directionX);
        PutI32(optional + 4, label.directionY);
        optional += kAnnotationDirectionSize;
    }
    if (hasHeight)
    {
        PutI32(optional, label.textHeight);
        optional += kAnnotationHeightSize;
    }
    std::memcpy(optional, text, static_cast<std::size_t>(textLength));
}

bool Tell(std::FILE* file, long* position)
{
    *position = std::ftell(file);
    return *position >= 0;
}

bool ToOffset(long position, std::int32_t* offset)
{
    // An offset past 2 GiB cannot be stored; writing it cut would point readers elsewhere.
    if (position < 0 || position > std::numeric_limits<std::int32_t>::max())
    {
        return false;
    }
    *offset = static_cast<std::int32_t>(position);
    return true;
}

bool SeekTo(std::FILE* file, long position)
{
    return std::fseek(file, position, SEEK_SET) == 0;
}

int clean_annotation_text(char* text)
{
    int kept = 0;
    for (const char* read = text; *read != '\0' && *read != '\x03'; ++read)
    {
        // 0x0E and 0x0F switch character sets on some output devices; they are not text.
        if (*read == '\x0E' || *read == '\x0F')
        {
            continue;
        }
        text[kept++] = *read;
    }
    text[kept] = '\0';
    return kept;
}

std::uint8_t line_type_code(const CLineSeg* line)
{
    return line->lineType == 0 ? 1 : 2;
}

} // namespace genplot::detail
