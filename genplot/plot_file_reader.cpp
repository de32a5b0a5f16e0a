#include "genplot/plot_file_reader.h"

#include "genplot/plot_file_reader_internal.h"
#include "platform/regular_file_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

// The reader walks the file once, front to back, in the order of the layout table in
// genplot/plot_file_format.h, which is the order the writer produces.
//
// Problems come in two kinds. A record that does not fit the file, has the wrong length for
// its type or stands where its type cannot stand stops the walk: nothing after it can be
// trusted. A field that disagrees with what was found (a count, an offset, a constant) is
// noted and the walk goes on, so the caller still gets everything decoded. Either way the
// first problem met is the one reported.

namespace genplot::detail::reader
{

std::string Format(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

ByteWindow::ByteWindow(const std::uint8_t* data, std::uint64_t size)
    : data_(data), size_(size), end_(size)
{
}

ByteWindow::ByteWindow(std::FILE* stream, std::uint64_t size) : size_(size), stream_(stream)
{
    // Room for the longest record (4 + 65535 bytes) and then some, so that reading goes in
    // large blocks.
    buffer_.resize(std::size_t{256} * 1024);
    data_ = buffer_.data();
}

const std::uint8_t* ByteWindow::Bytes(std::uint64_t at, std::uint32_t count)
{
    if (at >= start_ && count <= end_ - start_ && at - start_ <= end_ - start_ - count)
    {
        return data_ + (at - start_);
    }
    // The walker reads every byte in order, so `at` never lies behind the window nor past
    // what it holds.
    if (stream_ == nullptr || failed_ || at < start_ || at > end_ || count > buffer_.size() ||
        count > size_ - at)
    {
        failed_ = true;
        return nullptr;
    }
    // Keep what is buffered from `at` on, then fill the rest of the buffer from the stream.
    std::memmove(buffer_.data(), buffer_.data() + (at - start_),
                 static_cast<std::size_t>(end_ - at));
    start_ = at;
    std::size_t held = static_cast<std::size_t>(end_ - start_);
    const std::uint64_t wanted = std::min<std::uint64_t>(buffer_.size() - held, size_ - end_);
    errno = 0;
    const std::size_t got =
        std::fread(buffer_.data() + held, 1, static_cast<std::size_t>(wanted), stream_);
    end_ += got;
    held += got;
    if (held < count)
    {
        // The file shrank while it was read, or the read failed.
        failed_ = true;
        error_ = std::ferror(stream_) != 0 ? (errno != 0 ? errno : EIO) : 0;
        return nullptr;
    }
    return data_;
}

void PlotFileWalker::Run()
{
    const bool complete = ReadHeader() && ReadMarkers() && ReadPieceTable() &&
                          ReadPieceSections() && ReadAnnotations() && ReadEnd();
    if (bytes_.Failed())
    {
        file_.status = PlotFileStatus::Unreadable;
        return;
    }
    if (stopped_)
    {
        file_.status = PlotFileStatus::Unreadable;
        file_.problemOffset = pos_;
        file_.problem = kPlotReadStopped;
        return;
    }
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

const std::uint8_t* PlotFileWalker::Bytes(std::uint64_t at, std::uint32_t count)
{
    return bytes_.Bytes(at, count);
}

// A problem that stops the walk; returns false so callers can `return Fail(...)`.
bool PlotFileWalker::Fail(std::uint64_t offset, const std::string& message)
{
    Note(offset, message);
    return false;
}

// A problem that leaves the structure readable; only the first one is kept.
void PlotFileWalker::Note(std::uint64_t offset, const std::string& message)
{
    if (problemFound_)
    {
        return;
    }
    problemFound_ = true;
    file_.problemOffset = offset;
    file_.problem = message;
}

bool PlotFileWalker::Fits(std::uint64_t at, std::uint64_t count) const
{
    return at <= size_ && count <= size_ - at;
}

// Reads the record header at pos_ and checks that the record fits the file; on success
// pos_ moves past the whole record.
bool PlotFileWalker::ReadRecord(RecordHead& head)
{
    if (!Fits(pos_, kRecordHeaderSize))
    {
        return Fail(
            pos_, Format("truncated record header: %llu bytes left, 4 needed", Ull(size_ - pos_)));
    }
    const std::uint8_t* start = Bytes(pos_, kRecordHeaderSize);
    if (start == nullptr)
    {
        return false;
    }
    head.offset = pos_;
    head.type = GetU16(start);
    head.length = GetU16(start + 2);
    if (!Fits(pos_ + kRecordHeaderSize, head.length))
    {
        return Fail(pos_,
                    Format("%s record (0x%04X) of length %u runs past the end of the "
                           "file at %llu",
                           PlotRecordTypeName(head.type), head.type, head.length, Ull(size_)));
    }
    const std::uint8_t* record = Bytes(pos_, kRecordHeaderSize + head.length);
    if (record == nullptr)
    {
        return false;
    }
    head.payload = record + kRecordHeaderSize;
    pos_ += kRecordHeaderSize + head.length;
    return true;
}

bool PlotFileWalker::ExpectLength(const RecordHead& head, std::uint32_t length)
{
    if (head.length != length)
    {
        return Fail(head.offset, Format("%s record has length %u, expected %u",
                                        PlotRecordTypeName(head.type), head.length, length));
    }
    return true;
}

bool PlotFileWalker::ReadHeader()
{
    // The type first: a file that is not a plot file should be called that, whatever its
    // first bytes would mean as a length.
    if (!Fits(0, kRecordHeaderSize))
    {
        return Fail(0, Format("not a generic plot file: %llu bytes, too short for a record "
                              "header",
                              Ull(size_)));
    }
    const std::uint8_t* first = Bytes(0, kRecordHeaderSize);
    if (first == nullptr)
    {
        return false;
    }
    const std::uint16_t type = GetU16(first);
    const std::uint16_t length = GetU16(first + 2);
    if (type != Type(RecordType::Header))
    {
        return Fail(0, Format("not a generic plot file: first record type is 0x%04X, "
                              "expected the header record 0xEFBE",
                              type));
    }
    if (length != kHeaderBodySize)
    {
        return Fail(0, Format("header record has length %u, expected 140", length));
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
    firstWriteHeader_ = h.sectionOffsets[header::kPieceTableSlot] == kAbsentOffset &&
                        h.sectionOffsets[header::kLooseAnnotationSlot] == kAbsentOffset &&
                        h.sectionOffsets[header::kPieceAnnotationSlot] == kAbsentOffset &&
                        h.looseAnnotationCount == 0 && h.pieceAnnotationCount == 0;
    CheckHeaderConstants(body);
    return true;
}

// Fields the writer always gives the same value. The padding byte after the source name's
// terminator and the 12 bytes at 62-73 are never assigned, so they are not looked at.
void PlotFileWalker::CheckHeaderConstants(const std::uint8_t* body)
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
    const std::uint32_t zero32[] = {header::kDefaultTextHeight + 4, header::kDefaultTextHeight + 8,
                                    header::kConfigValues + 20, header::kConfigValues + 24};
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
        if (file_.header.sectionOffsets[slot] != kAbsentOffset)
        {
            Note(kRecordHeaderSize + header::kSectionOffsets + 4 * slot,
                 Format("unused section offset slot %u is %d, expected -1", slot,
                        file_.header.sectionOffsets[slot]));
        }
    }
    const std::int32_t tableOffset = file_.header.sectionOffsets[header::kPieceTableSlot];
    // -1 is the first-write state; whether that is sound depends on how the file ends.
    if (tableOffset != kAbsentOffset && tableOffset != static_cast<std::int32_t>(kPieceTableOffset))
    {
        Note(SlotOffset(header::kPieceTableSlot),
             Format("pieceTableOffset is %d, expected 152", tableOffset));
    }
}

std::uint64_t PlotFileWalker::SlotOffset(std::uint32_t slot)
{
    return kRecordHeaderSize + header::kSectionOffsets + 4 * slot;
}

bool PlotFileWalker::ReadMarkers()
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

bool PlotFileWalker::ReadPieceTable()
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
        piece.recordOffset = GetI32(entry + kPieceEntryRecordOffset);
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

bool PlotFileWalker::ReadEnd()
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
void PlotFileWalker::CheckHeaderAgainstSections()
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
    if (h.sectionOffsets[header::kPieceTableSlot] == kAbsentOffset)
    {
        Note(SlotOffset(header::kPieceTableSlot),
             "pieceTableOffset is -1, expected 152: the header was not rewritten at the end "
             "of the write");
    }
}

void PlotFileWalker::CheckSectionOffset(std::uint32_t slot, const char* name,
                                        const std::vector<PlotFileAnnotation>& section)
{
    const std::int32_t stored = file_.header.sectionOffsets[slot];
    if (section.empty())
    {
        if (stored != kAbsentOffset)
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

} // namespace genplot::detail::reader

namespace genplot
{

PlotFile ReadPlotFile(const std::uint8_t* data, std::size_t size)
{
    PlotFile file;
    static const std::uint8_t empty = 0;
    detail::reader::ByteWindow bytes(data != nullptr ? data : &empty, data != nullptr ? size : 0);
    detail::reader::PlotFileWalker(bytes, file).Run();
    return file;
}

PlotFile LoadPlotFile(const std::string& path)
{
    return LoadPlotFile(path, PlotPieceSink());
}

PlotFile LoadPlotFile(const std::string& path, const PlotPieceSink& sink)
{
    PlotFile file;
    file.status = PlotFileStatus::Unreadable;
    const detail::RegularFile opened = detail::OpenRegularFile(path.c_str());
    if (opened.notRegular)
    {
        // A device or a named pipe has no size to bound the read by, and may never end.
        file.problem = "cannot read " + path + ": not a regular file";
        return file;
    }
    if (opened.stream == nullptr)
    {
        file.problem = "cannot open " + path + ": " + std::strerror(opened.error);
        return file;
    }
    // Closed however the walk ends: the sink may throw.
    struct Closer
    {
        void operator()(std::FILE* stream) const
        {
            std::fclose(stream);
        }
    };
    const std::unique_ptr<std::FILE, Closer> stream(opened.stream);
    // The file is read as far as the walk goes: a file that stops being a plot file is not
    // read any further.
    detail::reader::ByteWindow bytes(opened.stream, opened.size);
    detail::reader::PlotFileWalker(bytes, file, sink ? &sink : nullptr).Run();
    if (bytes.Failed())
    {
        file.status = PlotFileStatus::Unreadable;
        file.problemOffset = 0;
        file.problem = "cannot read " + path + ": " +
                       (bytes.Error() != 0 ? std::string(std::strerror(bytes.Error()))
                                           : std::string("it changed while it was read"));
    }
    return file;
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
