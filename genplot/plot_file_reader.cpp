#include "genplot/plot_file_reader.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// The reader walks the file once, front to back, in the order the writer produces it:
//
//   0    header record (0xEFBE, 140)
//   144  marker 0x01FF (0), 148 marker 0x02FF (0)
//   152  piece table 0x0300 (20 x entries); entry: box (4 x i32), recordOffset (i32)
//        one section per entry: pen mode, line type, outline polyline,
//          then per line [pen mode] [line type] polyline, then piece end 0x03FF
//        annotation records 0x0500: first the loose ones, then the piece ones
//        end record 0xFFFF (0), nothing after it
//
// Problems come in two kinds. A record that does not fit the file, has the wrong length for
// its type or stands where its type cannot stand stops the walk: nothing after it can be
// trusted. A field that disagrees with what was found (a count, an offset, a constant) is
// noted and the walk goes on, so the caller still gets everything decoded. Either way the
// first problem met is the one reported.

namespace genplot
{
namespace
{

std::uint16_t GetU16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t GetU32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::int32_t GetI32(const std::uint8_t* at)
{
    const std::uint32_t bits = GetU32(at);
    // Two's complement spelled out, so the result never rests on how narrowing is defined.
    if (bits <= 0x7FFFFFFFu)
    {
        return static_cast<std::int32_t>(bits);
    }
    return static_cast<std::int32_t>(bits - 0x80000000u) + INT32_MIN;
}

PlotFileBox GetBox(const std::uint8_t* at)
{
    PlotFileBox box;
    box.lowerLeft.x = GetI32(at);
    box.lowerLeft.y = GetI32(at + 4);
    box.upperRight.x = GetI32(at + 8);
    box.upperRight.y = GetI32(at + 12);
    return box;
}

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

unsigned long long Ull(std::uint64_t value)
{
    return static_cast<unsigned long long>(value);
}

struct RecordHead
{
    std::uint64_t offset = 0;
    std::uint16_t type = 0;
    std::uint16_t length = 0;
    const std::uint8_t* payload = nullptr;
};

bool IsPenMode(std::uint16_t type)
{
    return type == static_cast<std::uint16_t>(RecordType::PenMode) ||
           type == static_cast<std::uint16_t>(RecordType::PenModeOff);
}

constexpr std::uint16_t Type(RecordType type)
{
    return static_cast<std::uint16_t>(type);
}

class Reader
{
  public:
    Reader(const std::uint8_t* data, std::size_t size, PlotFile& file)
        : data_(data), size_(size), file_(file)
    {
        file_.size = size;
    }

    void Run()
    {
        const bool complete = ReadHeader() && ReadMarkers() && ReadPieceTable() &&
                              ReadPieceSections() && ReadAnnotations() && ReadEnd();
        if (complete)
        {
            CheckHeaderAgainstSections();
        }
        if (file_.status == PlotFileStatus::Cancelled)
        {
            return;
        }
        file_.status = problemFound_ ? PlotFileStatus::Invalid : PlotFileStatus::Valid;
    }

  private:
    // A problem that stops the walk; returns false so callers can `return Fail(...)`.
    bool Fail(std::uint64_t offset, const std::string& message)
    {
        Note(offset, message);
        return false;
    }

    // A problem that leaves the structure readable; only the first one is kept.
    void Note(std::uint64_t offset, const std::string& message)
    {
        if (problemFound_)
        {
            return;
        }
        problemFound_ = true;
        file_.problemOffset = offset;
        file_.problem = message;
    }

    bool Fits(std::uint64_t at, std::uint64_t count) const
    {
        return at <= size_ && count <= size_ - at;
    }

    // Reads the record header at pos_ and checks that the record fits the file; on success
    // pos_ moves past the whole record.
    bool ReadRecord(RecordHead& head)
    {
        if (!Fits(pos_, kRecordHeaderSize))
        {
            return Fail(pos_, Format("truncated record header: %llu bytes left, 4 needed",
                                     Ull(size_ - pos_)));
        }
        head.offset = pos_;
        head.type = GetU16(data_ + pos_);
        head.length = GetU16(data_ + pos_ + 2);
        head.payload = data_ + pos_ + kRecordHeaderSize;
        if (!Fits(pos_ + kRecordHeaderSize, head.length))
        {
            return Fail(pos_,
                        Format("%s record (0x%04X) of length %u runs past the end of the "
                               "file at %llu",
                               PlotRecordTypeName(head.type), head.type, head.length, Ull(size_)));
        }
        pos_ += kRecordHeaderSize + head.length;
        return true;
    }

    bool ExpectLength(const RecordHead& head, std::uint32_t length)
    {
        if (head.length != length)
        {
            return Fail(head.offset, Format("%s record has length %u, expected %u",
                                            PlotRecordTypeName(head.type), head.length, length));
        }
        return true;
    }

    bool ReadHeader()
    {
        // The type first: a file that is not a plot file should be called that, whatever its
        // first bytes would mean as a length.
        if (!Fits(0, kRecordHeaderSize))
        {
            return Fail(0, Format("not a generic plot file: %llu bytes, too short for a record "
                                  "header",
                                  Ull(size_)));
        }
        if (GetU16(data_) != Type(RecordType::Header))
        {
            return Fail(0, Format("not a generic plot file: first record type is 0x%04X, "
                                  "expected the header record 0xEFBE",
                                  GetU16(data_)));
        }
        if (GetU16(data_ + 2) != kHeaderBodySize)
        {
            return Fail(0, Format("header record has length %u, expected 140", GetU16(data_ + 2)));
        }
        RecordHead head;
        if (!ReadRecord(head))
        {
            return false;
        }
        const std::uint8_t* body = head.payload;
        if (std::memcmp(body + header::kMagic, kMagic, sizeof kMagic) != 0)
        {
            return Fail(kRecordHeaderSize + header::kMagic,
                        "not a generic plot file: the magic is not \"GENPTV1\" and a NUL");
        }

        PlotFileHeader& h = file_.header;
        const std::uint8_t* name = body + header::kSourceName;
        std::size_t nameLength = 0;
        while (nameLength < kSourceNameSize && name[nameLength] != 0)
        {
            ++nameLength;
        }
        h.sourceName.assign(reinterpret_cast<const char*>(name), nameLength);
        h.configFlag = GetU16(body + header::kConfigFlag);
        h.extents = GetBox(body + header::kExtents);
        h.looseAnnotationCount = GetU16(body + header::kLooseAnnotationCount);
        h.pieceAnnotationCount = GetU16(body + header::kPieceAnnotationCount);
        h.pieceCount = GetU16(body + header::kPieceCount);
        h.defaultTextHeight = GetI32(body + header::kDefaultTextHeight);
        for (std::size_t i = 0; i < h.configValues.size(); ++i)
        {
            h.configValues[i] = GetI32(body + header::kConfigValues + 4 * i);
        }
        for (std::size_t i = 0; i < h.sectionOffsets.size(); ++i)
        {
            h.sectionOffsets[i] = GetI32(body + header::kSectionOffsets + 4 * i);
        }
        file_.hasHeader = true;

        // The writer writes the header twice: first before anything else, with the section
        // offsets it holds at the start (-1), then again at the very end with the final counts
        // and offsets. A header still in the first state belongs to a write that never ended.
        firstWriteHeader_ = h.sectionOffsets[header::kPieceTableSlot] == -1 &&
                            h.sectionOffsets[header::kLooseAnnotationSlot] == -1 &&
                            h.sectionOffsets[header::kPieceAnnotationSlot] == -1 &&
                            h.looseAnnotationCount == 0 && h.pieceAnnotationCount == 0;
        CheckHeaderConstants(body);
        return true;
    }

    // Fields the writer always gives the same value. The padding byte after the source name's
    // terminator and the 12 bytes at 62-73 are never assigned, so they are not looked at.
    void CheckHeaderConstants(const std::uint8_t* body)
    {
        const std::uint8_t* name = body + header::kSourceName;
        for (std::uint32_t i = static_cast<std::uint32_t>(file_.header.sourceName.size());
             i < kSourceNameSize; ++i)
        {
            if (name[i] != 0)
            {
                Note(kRecordHeaderSize + header::kSourceName + i,
                     "source name padding is not NUL after the name's end");
                break;
            }
        }
        const std::uint32_t terminator = header::kSourceName + kSourceNameSize;
        if (body[terminator] != 0)
        {
            Note(kRecordHeaderSize + terminator, "byte after the source name is not 0");
        }
        if (file_.header.configFlag > 1)
        {
            Note(kRecordHeaderSize + header::kConfigFlag,
                 Format("configFlag is %u, expected 0 or 1", file_.header.configFlag));
        }
        const std::uint32_t zero16[] = {header::kConfigFlag + 2, header::kPieceCount + 2};
        for (std::uint32_t at : zero16)
        {
            if (GetU16(body + at) != 0)
            {
                Note(kRecordHeaderSize + at, "reserved 16-bit header field is not 0");
            }
        }
        const std::uint32_t zero32[] = {header::kDefaultTextHeight + 4,
                                        header::kDefaultTextHeight + 8, header::kConfigValues + 20,
                                        header::kConfigValues + 24};
        for (std::uint32_t at : zero32)
        {
            if (GetI32(body + at) != 0)
            {
                Note(kRecordHeaderSize + at, "reserved 32-bit header field is not 0");
            }
        }
        for (std::uint32_t at = header::kFlagBytes; at < header::kFlagBytes + 2; ++at)
        {
            if (body[at] != 0xFF)
            {
                Note(kRecordHeaderSize + at,
                     Format("header flag byte is 0x%02X, expected 0xFF", body[at]));
            }
        }
        for (std::uint32_t slot = 0; slot < header::kSectionSlots; ++slot)
        {
            if (slot == header::kLooseAnnotationSlot || slot == header::kPieceTableSlot ||
                slot == header::kPieceAnnotationSlot)
            {
                continue;
            }
            if (file_.header.sectionOffsets[slot] != -1)
            {
                Note(kRecordHeaderSize + header::kSectionOffsets + 4 * slot,
                     Format("unused section offset slot %u is %d, expected -1", slot,
                            file_.header.sectionOffsets[slot]));
            }
        }
        const std::int32_t tableOffset = file_.header.sectionOffsets[header::kPieceTableSlot];
        // -1 is the first-write state; whether that is sound depends on how the file ends.
        if (tableOffset != -1 && tableOffset != static_cast<std::int32_t>(kPieceTableOffset))
        {
            Note(SlotOffset(header::kPieceTableSlot),
                 Format("pieceTableOffset is %d, expected 152", tableOffset));
        }
    }

    static std::uint64_t SlotOffset(std::uint32_t slot)
    {
        return kRecordHeaderSize + header::kSectionOffsets + 4 * slot;
    }

    bool ReadMarkers()
    {
        const RecordType markers[] = {RecordType::Marker1, RecordType::Marker2};
        for (RecordType marker : markers)
        {
            RecordHead head;
            if (!ReadRecord(head))
            {
                return false;
            }
            if (head.type != Type(marker))
            {
                return Fail(head.offset,
                            Format("expected the marker record 0x%04X, found %s "
                                   "(0x%04X)",
                                   Type(marker), PlotRecordTypeName(head.type), head.type));
            }
            if (!ExpectLength(head, 0))
            {
                return false;
            }
            ++file_.markersRead;
        }
        return true;
    }

    bool ReadPieceTable()
    {
        RecordHead head;
        if (!ReadRecord(head))
        {
            return false;
        }
        if (head.type != Type(RecordType::PieceTable))
        {
            return Fail(head.offset, Format("expected the piece-table record 0x0300, found %s "
                                            "(0x%04X)",
                                            PlotRecordTypeName(head.type), head.type));
        }
        if (head.length % kPieceEntrySize != 0)
        {
            return Fail(head.offset, Format("piece-table length %u is not a multiple of the "
                                            "20-byte entry",
                                            head.length));
        }
        const std::uint32_t entries = head.length / kPieceEntrySize;
        file_.pieces.resize(entries);
        for (std::uint32_t i = 0; i < entries; ++i)
        {
            const std::uint8_t* entry = head.payload + i * kPieceEntrySize;
            PlotFilePiece& piece = file_.pieces[i];
            piece.entryOffset = head.offset + kRecordHeaderSize + i * kPieceEntrySize;
            piece.box = GetBox(entry);
            piece.recordOffset = GetI32(entry + 16);
        }
        file_.hasPieceTable = true;
        if (file_.header.pieceCount != entries)
        {
            Note(kRecordHeaderSize + header::kPieceCount,
                 Format("pieceCount is %u but the piece table at 152 has %u entries",
                        file_.header.pieceCount, entries));
        }
        return true;
    }

    bool ReadPieceSections()
    {
        for (std::size_t i = 0; i < file_.pieces.size(); ++i)
        {
            if (!ReadPieceSection(i))
            {
                return false;
            }
        }
        return true;
    }

    bool ReadPieceSection(std::size_t index)
    {
        PlotFilePiece& piece = file_.pieces[index];
        piece.sectionOffset = pos_;
        const auto entryField = piece.entryOffset + 16;
        bool offsetChecked = true;
        if (piece.recordOffset < 0 || static_cast<std::uint64_t>(piece.recordOffset) != pos_)
        {
            // An entry left at -1 is what a cancelled write leaves; decide once the section's
            // end shows whether the write stopped here.
            if (firstWriteHeader_ && piece.recordOffset == -1)
            {
                offsetChecked = false;
            }
            else
            {
                Note(entryField, Format("piece %zu: recordOffset %d does not point at its "
                                        "section, which starts at %llu",
                                        index, piece.recordOffset, Ull(pos_)));
            }
        }

        std::uint8_t lineTypeCode = 0;
        std::size_t lines = 0; // polylines that start a line (not follow-on records)
        for (;;)
        {
            if (pos_ == size_)
            {
                if (piece.records.empty())
                {
                    return Fail(pos_,
                                Format("the file ends before the section of piece %zu", index));
                }
                return EndInsideSection(index, lines);
            }
            RecordHead head;
            if (!ReadRecord(head))
            {
                return false;
            }
            const std::uint16_t previous =
                piece.records.empty() ? 0 : Type(piece.records.back().type);
            const std::size_t position = piece.records.size();
            if (!CheckSectionOrder(index, head, previous, position))
            {
                return false;
            }

            PlotPieceRecord record;
            record.offset = head.offset;
            record.type = static_cast<RecordType>(head.type);
            if (IsPenMode(head.type) || head.type == Type(RecordType::PieceEnd))
            {
                if (!ExpectLength(head, 0))
                {
                    return false;
                }
            }
            else if (head.type == Type(RecordType::LineType))
            {
                if (!ExpectLength(head, 1))
                {
                    return false;
                }
                record.lineTypeCode = head.payload[0];
                if (record.lineTypeCode != 1 && record.lineTypeCode != 2)
                {
                    Note(head.offset + kRecordHeaderSize,
                         Format("line-type code %u is neither 1 (solid) nor 2 (broken)",
                                record.lineTypeCode));
                }
                else if (position != 1 && record.lineTypeCode == lineTypeCode)
                {
                    Note(head.offset,
                         Format("line-type record repeats the current code %u", lineTypeCode));
                }
                lineTypeCode = record.lineTypeCode;
            }
            else
            {
                if (!ReadPolyline(head, record,
                                  previous == Type(RecordType::Polyline) ? &piece.records.back()
                                                                         : nullptr))
                {
                    return false;
                }
                if (!record.continuesPrevious)
                {
                    ++lines;
                }
            }
            piece.records.push_back(std::move(record));
            if (head.type == Type(RecordType::PieceEnd))
            {
                break;
            }
        }
        if (!offsetChecked)
        {
            Note(entryField, Format("piece %zu: recordOffset is -1 but its section at %llu is "
                                    "complete",
                                    index, Ull(piece.sectionOffset)));
        }
        return true;
    }

    // Within a section: pen mode, line type and the outline come first, in that order; then
    // each line may be preceded by one pen-mode and one line-type record, in that order; the
    // piece end follows a polyline.
    bool CheckSectionOrder(std::size_t index, const RecordHead& head, std::uint16_t previous,
                           std::size_t position)
    {
        const std::uint16_t type = head.type;
        const std::uint16_t polyline = Type(RecordType::Polyline);
        bool allowed = false;
        const char* expected = "";
        if (position == 0)
        {
            allowed = IsPenMode(type);
            expected = "a pen-mode record to open the section";
        }
        else if (position == 1)
        {
            allowed = type == Type(RecordType::LineType);
            expected = "the outline's line-type record";
        }
        else if (position == 2)
        {
            allowed = type == polyline;
            expected = "the outline's polyline record";
        }
        else if (IsPenMode(type))
        {
            allowed = previous == polyline;
            expected = "a pen-mode record only after a polyline";
        }
        else if (type == Type(RecordType::LineType))
        {
            allowed = previous == polyline || IsPenMode(previous);
            expected = "a line-type record only after a polyline or a pen-mode record";
        }
        else if (type == polyline)
        {
            allowed = true;
        }
        else if (type == Type(RecordType::PieceEnd))
        {
            allowed = previous == polyline;
            expected = "the piece end only after a polyline";
        }
        else
        {
            expected = "pen-mode, line-type, polyline or piece end records";
        }
        if (!allowed)
        {
            return Fail(head.offset, Format("%s record (0x%04X) out of place in the section of "
                                            "piece %zu: expected %s",
                                            PlotRecordTypeName(type), type, index, expected));
        }
        return true;
    }

    bool ReadPolyline(const RecordHead& head, PlotPieceRecord& record,
                      const PlotPieceRecord* previous)
    {
        if (head.length < 4)
        {
            return Fail(head.offset, Format("polyline length %u is shorter than its 4-byte "
                                            "point-list header",
                                            head.length));
        }
        const std::uint16_t tag = GetU16(head.payload);
        const std::uint32_t count = GetU16(head.payload + 2);
        const std::uint32_t expected = kPointEntrySize * count + 4;
        if (head.length != expected)
        {
            return Fail(head.offset, Format("polyline length %u does not match its %u points "
                                            "(10 x %u + 4 = %u)",
                                            head.length, count, count, expected));
        }
        if (tag != kPointListTag)
        {
            Note(head.offset + kRecordHeaderSize,
                 Format("point-list tag is 0x%04X, expected 0x0100", tag));
        }
        record.points.resize(count);
        for (std::uint32_t i = 0; i < count; ++i)
        {
            const std::uint8_t* entry = head.payload + 4 + i * kPointEntrySize;
            record.points[i].x = GetI32(entry);
            record.points[i].y = GetI32(entry + 4);
            if (GetU16(entry + 8) != 0)
            {
                Note(head.offset + kRecordHeaderSize + 4 + i * kPointEntrySize + 8,
                     Format("point %u: the field after x and y is not 0", i));
            }
        }
        record.continuesPrevious = previous != nullptr &&
                                   previous->points.size() == kMaxPolylinePoints && count > 0 &&
                                   previous->points.back().x == record.points.front().x &&
                                   previous->points.back().y == record.points.front().y;
        return true;
    }

    // The file ends at a record boundary inside a piece section. A cancelled write leaves
    // exactly that, right after one of the piece's lines (the writer looks at the cancel flag
    // only after a line that is not the outline); anything else is a damaged file.
    bool EndInsideSection(std::size_t index, std::size_t lines)
    {
        const PlotFilePiece& piece = file_.pieces[index];
        bool cancelled = firstWriteHeader_ && !problemFound_ && piece.recordOffset == -1 &&
                         lines >= 2 && piece.records.back().type == RecordType::Polyline;
        for (std::size_t later = index + 1; cancelled && later < file_.pieces.size(); ++later)
        {
            cancelled = file_.pieces[later].recordOffset == -1;
        }
        if (!cancelled)
        {
            return Fail(pos_, Format("the file ends inside the section of piece %zu, before its "
                                     "piece end record",
                                     index));
        }
        file_.status = PlotFileStatus::Cancelled;
        file_.problemOffset = pos_;
        file_.problem = Format("cancelled: the write stopped inside piece %zu, with %zu of %zu "
                               "pieces complete and no annotations",
                               index, index, file_.pieces.size());
        return false;
    }

    // The loose section comes first; the header's count says where it ends.
    bool ReadAnnotations()
    {
        while (Fits(pos_, kRecordHeaderSize) &&
               GetU16(data_ + pos_) == Type(RecordType::Annotation))
        {
            RecordHead head;
            if (!ReadRecord(head))
            {
                return false;
            }
            PlotFileAnnotation annotation;
            if (!ReadAnnotation(head, annotation))
            {
                return false;
            }
            auto& section = file_.looseAnnotations.size() < file_.header.looseAnnotationCount
                                ? file_.looseAnnotations
                                : file_.pieceAnnotations;
            section.push_back(std::move(annotation));
        }
        return true;
    }

    bool ReadAnnotation(const RecordHead& head, PlotFileAnnotation& annotation)
    {
        if (head.length < kAnnotationFixedSize)
        {
            return Fail(head.offset, Format("annotation length %u is shorter than its 30-byte "
                                            "fixed part",
                                            head.length));
        }
        const std::uint8_t* p = head.payload;
        const std::uint32_t textLength = GetU16(p);
        annotation.offset = head.offset;
        annotation.flags = p[2];
        const std::uint8_t known = kAnnotationHasDirection | kAnnotationHasHeight;
        if ((annotation.flags & ~known) != 0)
        {
            return Fail(head.offset + kRecordHeaderSize + 2,
                        Format("annotation flags 0x%02X have unknown bits", annotation.flags));
        }
        const bool hasDirection = (annotation.flags & kAnnotationHasDirection) != 0;
        const bool hasHeight = (annotation.flags & kAnnotationHasHeight) != 0;
        const std::uint32_t expected =
            kAnnotationFixedSize + textLength + (hasDirection ? 8 : 0) + (hasHeight ? 4 : 0);
        if (head.length != expected)
        {
            return Fail(head.offset,
                        Format("annotation length %u does not match its fields "
                               "(30 + text %u%s%s = %u)",
                               head.length, textLength, hasDirection ? " + direction 8" : "",
                               hasHeight ? " + height 4" : "", expected));
        }
        if (p[3] != 0 || p[4] != 0)
        {
            Note(head.offset + kRecordHeaderSize + (p[3] != 0 ? 3 : 4),
                 "reserved annotation byte is not 0");
        }
        annotation.justification = p[5];
        annotation.extent = GetBox(p + 6);
        annotation.position.x = GetI32(p + 22);
        annotation.position.y = GetI32(p + 26);
        std::uint32_t at = kAnnotationFixedSize;
        if (hasDirection)
        {
            annotation.directionX = GetI32(p + at);
            annotation.directionY = GetI32(p + at + 4);
            at += 8;
        }
        annotation.textHeight = file_.header.defaultTextHeight;
        if (hasHeight)
        {
            annotation.textHeight = GetI32(p + at);
            at += 4;
        }
        annotation.text.assign(reinterpret_cast<const char*>(p + at), textLength);
        if (textLength > kMaxAnnotationText)
        {
            Note(head.offset + kRecordHeaderSize,
                 Format("annotation text length %u exceeds 511", textLength));
        }
        // The writer cleans texts: it stops at NUL or 0x03 and drops 0x0E and 0x0F.
        for (std::uint32_t i = 0; i < textLength; ++i)
        {
            const std::uint8_t byte = p[at + i];
            if (byte == 0x00 || byte == 0x03 || byte == 0x0E || byte == 0x0F)
            {
                Note(head.offset + kRecordHeaderSize + at + i,
                     Format("annotation text byte 0x%02X cannot appear in a cleaned text", byte));
                break;
            }
        }
        return true;
    }

    bool ReadEnd()
    {
        if (pos_ == size_)
        {
            return Fail(pos_, "the file ends without an end record");
        }
        RecordHead head;
        if (!ReadRecord(head))
        {
            return false;
        }
        if (head.type != Type(RecordType::End))
        {
            return Fail(head.offset, Format("%s record (0x%04X) where an annotation or the end "
                                            "record was expected",
                                            PlotRecordTypeName(head.type), head.type));
        }
        if (!ExpectLength(head, 0))
        {
            return false;
        }
        file_.hasEnd = true;
        file_.endOffset = head.offset;
        if (pos_ != size_)
        {
            Note(pos_, Format("%llu bytes follow the end record", Ull(size_ - pos_)));
        }
        return true;
    }

    // Counts and offsets in the header against the sections that were found.
    void CheckHeaderAgainstSections()
    {
        const PlotFileHeader& h = file_.header;
        const std::size_t found = file_.looseAnnotations.size() + file_.pieceAnnotations.size();
        if (h.looseAnnotationCount > found)
        {
            Note(kRecordHeaderSize + header::kLooseAnnotationCount,
                 Format("looseAnnotationCount is %u but only %zu annotation records follow the "
                        "piece sections",
                        h.looseAnnotationCount, found));
        }
        CheckSectionOffset(header::kLooseAnnotationSlot, "looseAnnotationOffset",
                           file_.looseAnnotations);
        if (static_cast<std::size_t>(h.looseAnnotationCount) + h.pieceAnnotationCount != found)
        {
            Note(kRecordHeaderSize + header::kPieceAnnotationCount,
                 Format("pieceAnnotationCount is %u but %zu annotation records follow the %zu "
                        "loose ones",
                        h.pieceAnnotationCount, file_.pieceAnnotations.size(),
                        file_.looseAnnotations.size()));
        }
        CheckSectionOffset(header::kPieceAnnotationSlot, "pieceAnnotationOffset",
                           file_.pieceAnnotations);
        if (h.sectionOffsets[header::kPieceTableSlot] == -1)
        {
            Note(SlotOffset(header::kPieceTableSlot),
                 "pieceTableOffset is -1, expected 152: the header was not rewritten at the end "
                 "of the write");
        }
    }

    void CheckSectionOffset(std::uint32_t slot, const char* name,
                            const std::vector<PlotFileAnnotation>& section)
    {
        const std::int32_t stored = file_.header.sectionOffsets[slot];
        if (section.empty())
        {
            if (stored != -1)
            {
                Note(SlotOffset(slot),
                     Format("%s is %d but the section is empty (expected -1)", name, stored));
            }
            return;
        }
        const std::uint64_t actual = section.front().offset;
        if (stored < 0 || static_cast<std::uint64_t>(stored) != actual)
        {
            Note(SlotOffset(slot),
                 Format("%s is %d but the section starts at %llu", name, stored, Ull(actual)));
        }
    }

    const std::uint8_t* data_;
    std::uint64_t size_;
    PlotFile& file_;
    std::uint64_t pos_ = 0;
    bool problemFound_ = false;
    bool firstWriteHeader_ = false;
};

} // namespace

PlotFile ReadPlotFile(const std::uint8_t* data, std::size_t size)
{
    PlotFile file;
    static const std::uint8_t empty = 0;
    Reader(data != nullptr ? data : &empty, data != nullptr ? size : 0, file).Run();
    return file;
}

PlotFile LoadPlotFile(const std::string& path)
{
    PlotFile file;
    file.status = PlotFileStatus::Unreadable;
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr)
    {
        file.problem = "cannot open " + path + ": " + std::strerror(errno);
        return file;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[65536];
    for (;;)
    {
        const std::size_t got = std::fread(block, 1, sizeof block, stream);
        bytes.insert(bytes.end(), block, block + got);
        if (got < sizeof block)
        {
            break;
        }
    }
    const bool failed = std::ferror(stream) != 0;
    const int error = errno;
    std::fclose(stream);
    if (failed)
    {
        file.problem = "cannot read " + path + ": " + std::strerror(error);
        return file;
    }
    return ReadPlotFile(bytes.data(), bytes.size());
}

const char* PlotRecordTypeName(std::uint16_t type)
{
    switch (static_cast<RecordType>(type))
    {
    case RecordType::Header:
        return "header";
    case RecordType::Marker1:
    case RecordType::Marker2:
        return "marker";
    case RecordType::PieceTable:
        return "piece-table";
    case RecordType::Polyline:
        return "polyline";
    case RecordType::PieceEnd:
        return "piece-end";
    case RecordType::PenMode:
        return "pen-mode";
    case RecordType::PenModeOff:
        return "pen-mode-off";
    case RecordType::LineType:
        return "line-type";
    case RecordType::Annotation:
        return "annotation";
    case RecordType::End:
        return "end";
    }
    return "unknown";
}

} // namespace genplot
