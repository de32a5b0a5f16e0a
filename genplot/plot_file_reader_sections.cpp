#include "genplot/plot_file_reader_internal.h"

#include <utility>

// Piece sections and annotation records: the part of the walk that repeats.

namespace genplot::detail::reader
{

bool PlotFileWalker::ReadPieceSections()
{
    for (std::size_t i = 0; i < file_.pieces.size(); ++i)
    {
        if (!ReadPieceSection(i))
        {
            // The piece a cancelled write stopped in holds whole lines: it is handed over as
            // far as it got. A damaged section is not.
            if (file_.status == PlotFileStatus::Cancelled)
            {
                Deliver(i);
            }
            else if (sink_ != nullptr)
            {
                std::vector<PlotPieceRecord>().swap(file_.pieces[i].records);
            }
            return false;
        }
        if (!Deliver(i))
        {
            stopped_ = true;
            return false;
        }
    }
    return true;
}

bool PlotFileWalker::Deliver(std::size_t index)
{
    if (sink_ == nullptr)
    {
        return true;
    }
    PlotFilePiece& piece = file_.pieces[index];
    const bool more = (*sink_)(piece);
    // Swapped out rather than cleared, so that the memory goes too.
    std::vector<PlotPieceRecord>().swap(piece.records);
    return more;
}

bool PlotFileWalker::ReadPieceSection(std::size_t index)
{
    PlotFilePiece& piece = file_.pieces[index];
    piece.sectionOffset = pos_;
    const auto entryField = piece.entryOffset + kPieceEntryRecordOffset;
    bool offsetChecked = true;
    if (piece.recordOffset < 0 || static_cast<std::uint64_t>(piece.recordOffset) != pos_)
    {
        // An entry left at -1 is what a cancelled write leaves; decide once the section's
        // end shows whether the write stopped here.
        if (firstWriteHeader_ && piece.recordOffset == kAbsentOffset)
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
                return Fail(pos_, Format("the file ends before the section of piece %zu", index));
            }
            return EndInsideSection(index, lines);
        }
        RecordHead head;
        if (!ReadRecord(head))
        {
            return false;
        }
        const std::uint16_t previous = piece.records.empty() ? 0 : Type(piece.records.back().type);
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
bool PlotFileWalker::CheckSectionOrder(std::size_t index, const RecordHead& head,
                                       std::uint16_t previous, std::size_t position)
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

bool PlotFileWalker::ReadPolyline(const RecordHead& head, PlotPieceRecord& record,
                                  const PlotPieceRecord* previous)
{
    if (head.length < kPolylineHeadSize)
    {
        return Fail(head.offset, Format("polyline length %u is shorter than its 4-byte "
                                        "point-list header",
                                        head.length));
    }
    const std::uint16_t tag = GetU16(head.payload);
    const std::uint32_t count = GetU16(head.payload + 2);
    const std::uint32_t expected = kPointEntrySize * count + kPolylineHeadSize;
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
        const std::uint8_t* entry = head.payload + kPolylineHeadSize + i * kPointEntrySize;
        record.points[i].x = GetI32(entry);
        record.points[i].y = GetI32(entry + 4);
        if (GetU16(entry + 8) != 0)
        {
            Note(head.offset + kRecordHeaderSize + kPolylineHeadSize + i * kPointEntrySize + 8,
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
bool PlotFileWalker::EndInsideSection(std::size_t index, std::size_t lines)
{
    const PlotFilePiece& piece = file_.pieces[index];
    bool cancelled = firstWriteHeader_ && !problemFound_ && piece.recordOffset == kAbsentOffset &&
                     lines >= 2 && piece.records.back().type == RecordType::Polyline;
    for (std::size_t later = index + 1; cancelled && later < file_.pieces.size(); ++later)
    {
        cancelled = file_.pieces[later].recordOffset == kAbsentOffset;
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
bool PlotFileWalker::ReadAnnotations()
{
    for (;;)
    {
        if (!Fits(pos_, kRecordHeaderSize))
        {
            break;
        }
        const std::uint8_t* next = Bytes(pos_, kRecordHeaderSize);
        if (next == nullptr)
        {
            return false;
        }
        if (GetU16(next) != Type(RecordType::Annotation))
        {
            break;
        }
        // The header's two 16-bit counts bound the sections; a file with more annotations
        // than they can describe is not a plot, however long it goes on.
        if (file_.looseAnnotations.size() + file_.pieceAnnotations.size() >=
            2 * std::size_t{kMaxAnnotationsPerSection})
        {
            return Fail(pos_, Format("more than %u annotation records, more than the header's "
                                     "counts can describe",
                                     2 * kMaxAnnotationsPerSection));
        }
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

bool PlotFileWalker::ReadAnnotation(const RecordHead& head, PlotFileAnnotation& label)
{
    if (head.length < kAnnotationFixedSize)
    {
        return Fail(head.offset, Format("annotation length %u is shorter than its 30-byte "
                                        "fixed part",
                                        head.length));
    }
    const std::uint8_t* p = head.payload;
    const std::uint32_t textLength = GetU16(p + annotation::kTextLength);
    label.offset = head.offset;
    label.flags = p[annotation::kFlags];
    const std::uint8_t known = kAnnotationHasDirection | kAnnotationHasHeight;
    if ((label.flags & ~known) != 0)
    {
        return Fail(head.offset + kRecordHeaderSize + annotation::kFlags,
                    Format("annotation flags 0x%02X have unknown bits", label.flags));
    }
    const bool hasDirection = (label.flags & kAnnotationHasDirection) != 0;
    const bool hasHeight = (label.flags & kAnnotationHasHeight) != 0;
    const std::uint32_t expected = kAnnotationFixedSize + textLength +
                                   (hasDirection ? kAnnotationDirectionSize : 0) +
                                   (hasHeight ? kAnnotationHeightSize : 0);
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
    label.justification = p[annotation::kJustification];
    label.extent = GetBox(p + annotation::kExtent);
    label.position.x = GetI32(p + annotation::kPosition);
    label.position.y = GetI32(p + annotation::kPosition + 4);
    std::uint32_t at = kAnnotationFixedSize;
    if (hasDirection)
    {
        label.directionX = GetI32(p + at);
        label.directionY = GetI32(p + at + 4);
        at += kAnnotationDirectionSize;
    }
    label.textHeight = file_.header.defaultTextHeight;
    if (hasHeight)
    {
        label.textHeight = GetI32(p + at);
        at += kAnnotationHeightSize;
    }
    label.text.assign(reinterpret_cast<const char*>(p + at), textLength);
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

} // namespace genplot::detail::reader
