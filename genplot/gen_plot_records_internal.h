#pragma once

#include "genplot/plot_file_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

class CBBox;
class CLineSeg;

// The writer's record functions, one per record kind. Each puts its fields into a small local
// buffer with the little-endian helpers and hands the buffer to the stream; each returns false
// as soon as the stream refuses a byte, so a failure is never passed over.

namespace genplot::detail
{

/// Collects a record's bytes and writes them with as few fwrite calls as the buffer allows:
/// one per record for everything but long polylines, which go out in batches of points.
class RecordBuffer
{
  public:
    static constexpr std::size_t kCapacity = 2048;

    explicit RecordBuffer(std::FILE* file) : file_(file)
    {
    }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    /// Room for `size` bytes (at most kCapacity), writing out what is held first when full.
    /// After a failed write the bytes are still accepted but Flush reports the failure.
    std::uint8_t* Reserve(std::size_t size);
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
bool WriteEmptyRecord(std::FILE* file, RecordType type);
bool WriteLineTypeRecord(std::FILE* file, std::uint8_t code);
/// Only the table's record header; the entries follow one by one.
bool WritePieceTableHead(std::FILE* file, std::uint16_t pieceCount);
bool WritePieceEntry(std::FILE* file, const CBBox& box, std::int32_t recordOffset);
/// The line's points as one polyline record, or, past kMaxPolylinePoints, as consecutive
/// records each starting at the last point of the one before.
bool WritePolylineRecords(std::FILE* file, const CLineSeg& line);

/// The stream's position; false when the stream cannot tell it.
bool Tell(std::FILE* file, long* position);
/// The position as a file offset field; false when it does not fit the field's 32 bits.
bool ToOffset(long position, std::int32_t* offset);
bool SeekTo(std::FILE* file, long position);
/// Bytes already in file layout, in one write; false when any of them was refused.
bool WriteRaw(std::FILE* file, const std::uint8_t* data, std::size_t size);

} // namespace genplot::detail
