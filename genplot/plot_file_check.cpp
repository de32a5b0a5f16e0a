#include "genplot/plot_dispatch.h"
#include "genplot/plot_dispatch_internal.h"
#include "genplot/plot_file_format.h"
#include "platform/native_path_internal.h"

#include <cstdint>
#include <cstring>

namespace genplot::detail
{
namespace
{

std::uint16_t U16(const unsigned char* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::int32_t I32(const unsigned char* at)
{
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
        (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24));
}

// Reads a file at increasing offsets. A short step forward is read through rather than
// sought: every seek costs a system call, and the records walked are small and close together.
class Cursor
{
  public:
    explicit Cursor(std::FILE* input) : input_(input)
    {
    }

    // Reads `count` bytes at `offset`; false when they are not all there.
    bool ReadAt(long long offset, void* out, std::size_t count)
    {
        if (offset < 0)
            return false;
        if (offset < at_ || offset - at_ > static_cast<long long>(sizeof skip_))
        {
            if (std::fseek(input_, static_cast<long>(offset), SEEK_SET) != 0)
                return false;
            at_ = offset;
        }
        const auto gap = static_cast<std::size_t>(offset - at_);
        if (gap > 0 && std::fread(skip_, 1, gap, input_) != gap)
            return false;
        at_ = offset;
        const std::size_t got = std::fread(out, 1, count, input_);
        at_ += static_cast<long long>(got);
        return got == count;
    }

  private:
    std::FILE* input_;
    long long at_ = 0;
    unsigned char skip_[16384];
};

// Walks the records from `offset` by their lengths: `count` annotation records, or (with
// `count` 0) records up to and including a piece end. Sets `*end` to where the walk stopped;
// false when a record is of the wrong kind or the walk would leave no room for the end record.
bool WalkRecords(Cursor& input, long long offset, long long size, unsigned count, long long* end)
{
    const bool annotations = count > 0;
    for (unsigned done = 0; !annotations || done < count; ++done)
    {
        unsigned char head[kRecordHeaderSize];
        if (offset + kRecordHeaderSize > size - kRecordHeaderSize ||
            !input.ReadAt(offset, head, sizeof head))
            return false;
        const std::uint16_t type = U16(head);
        offset += kRecordHeaderSize + U16(head + 2);
        if (annotations && type != static_cast<std::uint16_t>(RecordType::Annotation))
            return false;
        if (!annotations && type == static_cast<std::uint16_t>(RecordType::PieceEnd))
            break;
    }
    *end = offset;
    return offset <= size - kRecordHeaderSize;
}

// Where the end record must stand by the header and the piece table: after the last
// annotation record, else after the last piece's section, else right after the empty table.
// False when the header is still in the state of a write that never ended, or the offsets it
// holds do not lead to an end.
bool ExpectedEnd(Cursor& input, long long size, long long* end)
{
    unsigned char head[kHeaderRecordSize];
    if (!input.ReadAt(0, head, sizeof head))
        return false;
    const unsigned char* body = head + kRecordHeaderSize;
    auto slot = [&](std::uint32_t index) {
        return I32(body + header::kSectionOffsets + 4 * index);
    };
    // A write that never ended leaves the header as it was first written: the piece table's
    // offset not yet set.
    if (slot(header::kPieceTableSlot) != static_cast<std::int32_t>(kPieceTableOffset))
        return false;
    const unsigned looseCount = U16(body + header::kLooseAnnotationCount);
    const unsigned pieceLabelCount = U16(body + header::kPieceAnnotationCount);
    const unsigned pieceCount = U16(body + header::kPieceCount);
    const std::int32_t looseOffset = slot(header::kLooseAnnotationSlot);
    const std::int32_t pieceLabelOffset = slot(header::kPieceAnnotationSlot);
    if ((looseCount > 0) != (looseOffset != kAbsentOffset) ||
        (pieceLabelCount > 0) != (pieceLabelOffset != kAbsentOffset))
        return false;

    unsigned char table[kRecordHeaderSize];
    if (!input.ReadAt(kPieceTableOffset, table, sizeof table) ||
        U16(table) != static_cast<std::uint16_t>(RecordType::PieceTable) ||
        U16(table + 2) != pieceCount * kPieceEntrySize)
        return false;
    const long long sections =
        kPieceTableOffset + kRecordHeaderSize + 1LL * pieceCount * kPieceEntrySize;
    // A cancelled write leaves the entries of the piece it stopped in, and of every later
    // one, at -1.
    long long lastPiece = -1;
    for (unsigned i = 0; i < pieceCount; ++i)
    {
        unsigned char entry[kPieceEntrySize];
        if (!input.ReadAt(sections - 1LL * (pieceCount - i) * kPieceEntrySize, entry, sizeof entry))
            return false;
        lastPiece = I32(entry + kPieceEntryRecordOffset);
        if (lastPiece < sections || lastPiece >= size)
            return false;
    }

    if (pieceLabelCount > 0)
        return pieceLabelOffset >= sections &&
               WalkRecords(input, pieceLabelOffset, size, pieceLabelCount, end);
    if (looseCount > 0)
        return looseOffset >= sections && WalkRecords(input, looseOffset, size, looseCount, end);
    if (pieceCount > 0)
        return WalkRecords(input, lastPiece, size, 0, end);
    *end = sections;
    return true;
}

} // namespace

int CheckPlotFileHeader(std::FILE* input)
{
    unsigned char recordHeader[kRecordHeaderSize];
    unsigned char body[kHeaderBodySize];
    const bool complete =
        std::fread(recordHeader, 1, sizeof recordHeader, input) == sizeof recordHeader &&
        std::fread(body, 1, sizeof body, input) == sizeof body;
    int valid = 0;
    if (complete)
    {
        const auto type = static_cast<std::uint16_t>(recordHeader[0] | (recordHeader[1] << 8));
        // The magic ends in its NUL, so comparing all 8 bytes is the byte-wise string
        // comparison: seven matching letters followed by anything but NUL do not pass.
        valid = type == static_cast<std::uint16_t>(RecordType::Header) &&
                        std::memcmp(body + header::kMagic, kMagic, sizeof kMagic) == 0
                    ? 1
                    : 0;
    }
    std::fseek(input, 0, SEEK_SET);
    return valid;
}

int CheckPlotFileComplete(std::FILE* input, long long size)
{
    long long end = 0;
    unsigned char last[kRecordHeaderSize];
    Cursor cursor(input);
    std::rewind(input);
    const bool complete = ExpectedEnd(cursor, size, &end) && end + kRecordHeaderSize == size &&
                          cursor.ReadAt(end, last, sizeof last) &&
                          U16(last) == static_cast<std::uint16_t>(RecordType::End) &&
                          U16(last + 2) == 0;
    const bool readFailed = std::ferror(input) != 0;
    std::clearerr(input);
    std::fseek(input, 0, SEEK_SET);
    if (readFailed)
        return -1;
    return complete ? 1 : 0;
}

} // namespace genplot::detail

int IsGenericPlotFile(CString& path)
{
    if (std::strlen(path.GetString()) != static_cast<std::size_t>(path.GetLength()))
        return 0; // a NUL inside the text would open a different, shorter path
    bool notRegular = false;
    long long size = 0;
    std::FILE* input = genplot::detail::OpenInputFile(path.GetString(), &notRegular, &size);
    if (input == nullptr)
        return 0;
    const int valid = genplot::detail::CheckPlotFileHeader(input);
    std::fclose(input);
    return valid;
}
