#include "genplot/byte_order_internal.h"
#include "genplot/gen_plot_internal.h"
#include "genplot/gen_plot_records_internal.h"
#include "geometry/bbox.h"
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

std::uint8_t* RecordBuffer::Reserve(std::size_t size)
{
    if (used_ + size > kCapacity)
    {
        Flush();
    }
    std::uint8_t* at = data_ + used_;
    used_ += size;
    return at;
}

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

bool WriteEmptyRecord(std::FILE* file, RecordType type)
{
    RecordBuffer record(file);
    PutRecordHeader(record.Reserve(kRecordHeaderSize), type, 0);
    return record.Flush();
}

bool WriteLineTypeRecord(std::FILE* file, std::uint8_t code)
{
    RecordBuffer record(file);
    std::uint8_t* at = record.Reserve(kRecordHeaderSize + 1);
    PutRecordHeader(at, RecordType::LineType, 1);
    PutU8(at + kRecordHeaderSize, code);
    return record.Flush();
}

bool WritePieceTableHead(std::FILE* file, std::uint16_t pieceCount)
{
    RecordBuffer record(file);
    PutRecordHeader(record.Reserve(kRecordHeaderSize), RecordType::PieceTable,
                    static_cast<std::uint16_t>(kPieceEntrySize * pieceCount));
    return record.Flush();
}

bool WritePieceEntry(std::FILE* file, const CBBox& box, std::int32_t recordOffset)
{
    RecordBuffer record(file);
    std::uint8_t* at = record.Reserve(kPieceEntrySize);
    PutI32(at, box.lowerLeft.x);
    PutI32(at + 4, box.lowerLeft.y);
    PutI32(at + 8, box.upperRight.x);
    PutI32(at + 12, box.upperRight.y);
    PutI32(at + kPieceEntryRecordOffset, recordOffset);
    return record.Flush();
}

namespace
{

void PutPoint(RecordBuffer& record, std::int32_t x, std::int32_t y)
{
    std::uint8_t* at = record.Reserve(kPointEntrySize);
    PutI32(at, x);
    PutI32(at + 4, y);
    PutU16(at + 8, 0);
}

} // namespace

bool WritePolylineRecords(std::FILE* file, const CLineSeg& line)
{
    // Safer than one record per line: a stroke from the fat-line pass can hold more points
    // than the 16-bit length can count. Instead of a length that disagrees with what follows,
    // the line goes out as consecutive records; each repeats the last point of the one before,
    // so the drawn path stays continuous and every length matches its points.
    RecordBuffer record(file);
    std::size_t remaining = static_cast<std::size_t>(line.GetPointCount());
    POSITION position = line.GetHeadPosition();
    bool carry = false;
    std::int32_t lastX = 0;
    std::int32_t lastY = 0;
    do
    {
        const std::size_t carried = carry ? 1 : 0;
        const std::size_t count = std::min<std::size_t>(remaining + carried, kMaxPolylinePoints);
        std::uint8_t* at = record.Reserve(kRecordHeaderSize + kPolylineHeadSize);
        PutRecordHeader(at, RecordType::Polyline,
                        static_cast<std::uint16_t>(kPointEntrySize * count + kPolylineHeadSize));
        PutU16(at + kRecordHeaderSize, kPointListTag);
        PutU16(at + kRecordHeaderSize + 2, static_cast<std::uint16_t>(count));
        if (carry)
        {
            PutPoint(record, lastX, lastY);
        }
        for (std::size_t i = carried; i < count; ++i)
        {
            const CCoord* point = line.GetNextPoint(position);
            lastX = point->x;
            lastY = point->y;
            PutPoint(record, lastX, lastY);
        }
        remaining -= count - carried;
        carry = true;
    } while (remaining > 0);
    return record.Flush();
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

bool WriteRaw(std::FILE* file, const std::uint8_t* data, std::size_t size)
{
    return std::fwrite(data, 1, size, file) == size && std::ferror(file) == 0;
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
