#pragma once

#include "genplot/plot_file_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

class CBBox;
class CLabel;
class CLineSeg;

// The writer's record functions, one per record kind. Each puts its fields with the
// little-endian helpers into the writer's buffer, which hands whole runs of records to the
// stream; a refused byte is kept in the buffer's state and reported by its next Flush.

namespace genplot::detail
{

/// Collects records and writes them with as few fwrite calls as its room allows. The writer
/// flushes it before every position query, seek and progress report, so the stream holds
/// every byte the host is told about.
class RecordBuffer
{
  public:
    static constexpr std::size_t kCapacity = 16384;

    explicit RecordBuffer(std::FILE* file) : file_(file)
    {
    }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    /// Room for `size` bytes (at most kCapacity), writing out what is held first when full.
    /// After a failed write the bytes are still accepted but Flush reports the failure.
    std::uint8_t* Reserve(std::size_t size)
    {
        if (used_ + size > kCapacity)
        {
            Flush();
        }
        std::uint8_t* at = data_ + used_;
        used_ += size;
        return at;
    }
    /// Bytes that fit before the buffer must be written out.
    std::size_t Room() const
    {
        return kCapacity - used_;
    }
    /// Writes out what is held; false when this or any earlier write was short.
    bool Flush();

  private:
    std::FILE* file_;
    std::size_t used_ = 0;
    bool failed_ = false;
    std::uint8_t data_[kCapacity];
};

/// Type and payload length: the 4 bytes that open every record.
void PutRecordHeader(std::uint8_t* at, RecordType type, std::uint16_t length);

/// A record with no payload: markers, pen modes, piece end, end of file.
void PutEmptyRecord(RecordBuffer& out, RecordType type);
void PutLineTypeRecord(RecordBuffer& out, std::uint8_t code);
/// Only the table's record header; the entries follow one by one.
void PutPieceTableHead(RecordBuffer& out, std::uint16_t pieceCount);
void PutPieceEntry(RecordBuffer& out, const CBBox& box, std::int32_t recordOffset);
/// The line's points as one polyline record, or, past kMaxPolylinePoints, as consecutive
/// records each starting at the last point of the one before.
void PutPolylineRecords(RecordBuffer& out, const CLineSeg& line);
/// An annotation record for `label`; its text height is stored when it differs from
/// `defaultTextHeight`.
void PutAnnotationRecord(RecordBuffer& out, const CLabel& label, std::int32_t defaultTextHeight);

/// The stream's position; false when the stream cannot tell it.
bool Tell(std::FILE* file, long* position);
/// The position as a file offset field; false when it does not fit the field's 32 bits.
bool ToOffset(long position, std::int32_t* offset);
bool SeekTo(std::FILE* file, long position);

} // namespace genplot::detail
