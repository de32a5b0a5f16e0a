#pragma once

// Reading generic plot files back. One call decodes a whole file into plain structures and
// checks its structure on the way: record lengths, the order of the sections, the piece-table
// offsets, the counts and offsets in the header and the end record. A file whose write was
// cancelled is recognised as such rather than reported as damaged.
//
// The reader trusts nothing in the file: every count, length and offset is checked against
// the bytes that are really there, so any input, however damaged, is safe to read.

#include "genplot/plot_file_format.h"
#include "platform/export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace genplot
{

/// A point in plot units.
struct PlotFilePoint
{
    /// x in plot units.
    std::int32_t x = 0;
    /// y in plot units (pointing up).
    std::int32_t y = 0;
};

/// A box as the file stores it: lower-left and upper-right corners in plot units.
struct PlotFileBox
{
    /// Lower-left corner.
    PlotFilePoint lowerLeft;
    /// Upper-right corner.
    PlotFilePoint upperRight;
};

/// The decoded header record (file offsets 0-143).
struct PlotFileHeader
{
    /// The source name: up to 20 bytes, the NUL padding removed.
    std::string sourceName;
    /// 1 when the host configuration's flag was set, else 0.
    std::uint16_t configFlag = 0;
    /// The plot's overall box.
    PlotFileBox extents;
    /// Number of records in the loose annotation section, as the header states it.
    std::uint16_t looseAnnotationCount = 0;
    /// Number of records in the piece annotation section, as the header states it.
    std::uint16_t pieceAnnotationCount = 0;
    /// Number of pieces, as the header states it.
    std::uint16_t pieceCount = 0;
    /// Text height of annotations that carry none of their own.
    std::int32_t defaultTextHeight = 0;
    /// The five configuration values, in file order.
    std::array<std::int32_t, 5> configValues{};
    /// The seven section offsets, -1 when absent; slots 2 (loose annotations), 4 (piece table)
    /// and 5 (piece annotations) are used, see header::k...Slot.
    std::array<std::int32_t, header::kSectionSlots> sectionOffsets{};
};

/// One record of a piece section.
struct PlotPieceRecord
{
    /// File offset of the record header.
    std::uint64_t offset = 0;
    /// PenMode, PenModeOff, LineType, Polyline or PieceEnd.
    RecordType type = RecordType::PieceEnd;
    /// LineType only: 1 for solid lines, 2 for broken ones.
    std::uint8_t lineTypeCode = 0;
    /// Polyline only: the points in file order.
    std::vector<PlotFilePoint> points;
    /// Polyline only: true when this record carries on the line of the record before it. The
    /// writer splits a line of more than kMaxPolylinePoints points into consecutive records of
    /// at most that many, each starting at the last point of the one before; this marks such
    /// a follow-on record (the previous record is a full polyline ending where this starts).
    bool continuesPrevious = false;
};

/// One piece: its piece-table entry and its section.
struct PlotFilePiece
{
    /// File offset of the piece-table entry.
    std::uint64_t entryOffset = 0;
    /// The piece's box from its entry.
    PlotFileBox box;
    /// The entry's recordOffset as stored (-1 for a piece whose section was never finished).
    std::int32_t recordOffset = -1;
    /// File offset at which the piece's section was found; meaningful when `records` is not
    /// empty.
    std::uint64_t sectionOffset = 0;
    /// The section's records in file order; the last is the PieceEnd record when the section
    /// is complete. Empty when reading stopped before the section.
    std::vector<PlotPieceRecord> records;
};

/// One annotation record.
struct PlotFileAnnotation
{
    /// File offset of the record header.
    std::uint64_t offset = 0;
    /// kAnnotationHasDirection and kAnnotationHasHeight bits.
    std::uint8_t flags = 0;
    /// Justification code: 1, 2 or 5 for labels the library measures.
    std::uint8_t justification = 0;
    /// The label's extent: the box of its turned text block.
    PlotFileBox extent;
    /// The label's anchor point.
    PlotFilePoint position;
    /// The text direction; (10000, 0) when the record carries none. Only the angle counts.
    std::int32_t directionX = 10000;
    /// See directionX.
    std::int32_t directionY = 0;
    /// The text height: the record's own, or the header's default when it carries none.
    std::int32_t textHeight = 0;
    /// The text bytes as stored (8-bit, no terminator; lines separated by "\r\n").
    std::string text;
};

/// What the reader concluded about a file.
enum class PlotFileStatus
{
    /// A complete file with a sound structure.
    Valid,
    /// A file whose write was cancelled: it ends after a line of a piece, the header still
    /// in the state the writer left it at the start. Everything up to there was decoded.
    Cancelled,
    /// A damaged or foreign file; `problem` and `problemOffset` tell the first problem found.
    Invalid,
    /// The file could not be read from disk; `problem` says why.
    Unreadable,
};

/// A decoded plot file. The parts are filled in file order as far as reading got: after an
/// Invalid result everything before the problem is there, nothing after it.
struct PlotFile
{
    /// Outcome of the check.
    PlotFileStatus status = PlotFileStatus::Invalid;
    /// Byte offset of the record or field at fault (for Cancelled, the file size).
    std::uint64_t problemOffset = 0;
    /// One-line description of the first problem; empty when Valid.
    std::string problem;

    /// Size of the file in bytes.
    std::uint64_t size = 0;
    /// True when the header record was decoded into `header`.
    bool hasHeader = false;
    /// The header fields.
    PlotFileHeader header;
    /// How many of the two marker records (at 144 and 148) were read.
    int markersRead = 0;
    /// True when the piece-table record at 152 was read; `pieces` then has one element per
    /// entry.
    bool hasPieceTable = false;
    /// The pieces in piece-table order.
    std::vector<PlotFilePiece> pieces;
    /// The loose annotation section, in file order.
    std::vector<PlotFileAnnotation> looseAnnotations;
    /// The piece annotation section, in file order.
    std::vector<PlotFileAnnotation> pieceAnnotations;
    /// True when the end record was read.
    bool hasEnd = false;
    /// File offset of the end record when `hasEnd`.
    std::uint64_t endOffset = 0;
};

/// Decodes and checks the `size` bytes at `data` (which may be null when `size` is 0). Never
/// reads outside the buffer and takes time linear in `size`.
GENPLOT_API PlotFile ReadPlotFile(const std::uint8_t* data, std::size_t size);

/// Reads the file at `path` (a native path) and decodes it as ReadPlotFile does, reading it
/// front to back only as far as it is a plot: a file is read no further than its first record
/// that cannot be part of one. Only a regular file is read: a device or a named pipe gives the
/// status Unreadable at once, without being read or waited for, as does a file that cannot be
/// opened or read, or that shrinks while it is read.
GENPLOT_API PlotFile LoadPlotFile(const std::string& path);

/// Receives the pieces of a file as LoadPlotFile(path, sink) reads them; returns false to stop
/// reading.
using PlotPieceSink = std::function<bool(const PlotFilePiece&)>;

/// The `problem` of a load that the piece sink stopped (the status is then Unreadable).
inline constexpr const char* kPlotReadStopped =
    "reading stopped: the piece sink asked for no more pieces";

/// Reads the file at `path` as LoadPlotFile(path) does, handing each piece to `sink` as soon
/// as its section has been read and checked, in file order, and letting go of the piece's
/// records after the call, so that reading holds one piece's points at a time however large
/// the plot. Whatever LoadPlotFile(path) would return comes back (status, problem, header,
/// annotations, end, every piece's entry and section offset) except that every piece's
/// `records` is empty. The sink sees exactly the pieces whose records LoadPlotFile(path)
/// returns complete: every piece with a sound section, and for a cancelled file the piece the
/// write stopped in, as far as it got; a section that proves damaged is not handed over. When
/// the sink returns false, reading stops after that piece: the status is then Unreadable, the
/// problem kPlotReadStopped and problemOffset the offset just after the piece's section,
/// unless the piece was the last one of a cancelled file, whose result stands. A sink that
/// throws ends reading; the exception passes to the caller.
GENPLOT_API PlotFile LoadPlotFile(const std::string& path, const PlotPieceSink& sink);

/// A short lower-case name for a record type ("header", "polyline", ...), or "unknown".
GENPLOT_API const char* PlotRecordTypeName(std::uint16_t type);

} // namespace genplot
