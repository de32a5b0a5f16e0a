#pragma once

// The generic plot file, the library's only output format. The writer (gen_plot.cpp,
// gen_plot_records.cpp), the reader (plot_file_reader*.cpp) and the type check
// (plot_file_check.cpp) all work from this one description and the constants below it.
//
// Every integer is little-endian two's complement; fields and records are packed. Every
// record starts with a 4-byte record header: type (u16), then the payload length (u16; the
// record header itself is not counted). File offsets stored in the file are absolute; -1
// means absent.
//
// Records (the high byte of a type groups them; a low byte of 0xFF closes a group):
//
//   type    record        payload length
//   0xEFBE  header        140: the header body below. Written little-endian, so every file
//                         begins with BE EF 8C 00.
//   0x01FF  marker        0 (always written, right after the header)
//   0x02FF  marker        0 (always written, right after the first marker)
//   0x0300  piece table   20 x pieceCount: one piece-table entry per piece
//   0x0301  polyline      10 x n + 4: tag 0x0100 (u16), n (u16), n point entries
//   0x03FF  piece end     0
//   0x0400  pen mode      0 (pen on: no pen table, or the table's entry for the pen is non-zero)
//   0x0401  pen mode      0 (the pen table's entry for the pen is zero)
//   0x0410  line type     1: the code, 1 for line type 0 and 2 for any other
//   0x0500  annotation    30 + T, + 8 with a direction, + 4 with a text height
//   0xFFFF  end           0; only a complete file has it
//
// Order of records:
//
//   file offset           content
//     0                   header record (4 + 140 bytes)
//   144                   marker 0x01FF
//   148                   marker 0x02FF
//   152                   piece-table record; its entries start at 156
//   156 + 20 x pieces     one piece section per piece, in piece-table order:
//                           pen mode, line type, the outline's polyline; then per non-perimeter
//                           line [pen mode] [line type] polyline; then piece end
//   then                  loose annotation section: looseAnnotationCount annotation records
//   then                  piece annotation section: pieceAnnotationCount annotation records
//   then                  end record
//
// Header body (140 bytes; body offsets count from the start of the body, file offset 4):
//
//   file  body  width   field
//     4     0    8      magic "GENPTV1\0"
//    12     8   20      sourceName: NUL-padded; a 20-byte name has no terminator of its own
//    32    28    1      0 (ends a 20-byte sourceName)
//    33    29    1      padding, never assigned (written as 0)
//    34    30   u16     configFlag: 1 when the host configuration's flag is non-zero, else 0
//    36    32   u16     0
//    38    34   4 x i32 extents: lowerLeft x, y, upperRight x, y
//    54    50   u16     looseAnnotationCount
//    56    52   u16     pieceAnnotationCount
//    58    54   u16     pieceCount
//    60    56   u16     0
//    62    58   12      never assigned (written as 0)
//    74    70   i32     defaultTextHeight (the host's configValue6 until the plot's is known)
//    78    74   i32     0
//    82    78   i32     0
//    86    82   5 x i32 configValues, in this order: configValue2, configValue1, configValue3,
//                       configValue4, configValue5 (the first two are swapped)
//   106   102   i32     0
//   110   106   i32     0
//   114   110    1      255
//   115   111    1      255
//   116   112   7 x i32 sectionOffsets, by slot: 0 -1; 1 -1; 2 looseAnnotationOffset; 3 -1;
//                       4 pieceTableOffset (152); 5 pieceAnnotationOffset; 6 -1. An empty
//                       annotation section has offset -1.
//
// While a file is written the header holds its first state: extents, pieceCount and
// defaultTextHeight final, the counts and offsets as the writer held them before it started
// (0 and -1 after Initialize). A complete file has the header written again, final.
//
// Piece-table entry (20 bytes):
//
//   0  i32  box lowerLeft x         12  i32  box upperRight y
//   4  i32  box lowerLeft y         16  i32  recordOffset: the piece section's first record;
//   8  i32  box upperRight x                 -1 until the section has been written
//
// Point entry (10 bytes): x (i32), y (i32), 0 (u16).
//
// Annotation payload (T = textLength):
//
//   0  u16      textLength T
//   2  u8       flags: 0x01 a direction follows, 0x10 a text height follows
//   3  2 bytes  0
//   5  u8       justification (its low 8 bits)
//   6  4 x i32  extent: lowerLeft x, y, upperRight x, y
//  22  2 x i32  position x, y
//  30  [2 x i32 directionX, directionY]   when the direction is not (10000, 0)
//      [i32 textHeight]                   when it differs from the header's defaultTextHeight
//      T bytes of text, no terminator (at most 511)
//
// The 16-bit lengths and counts bound a polyline to 6553 points, the piece table to 3276
// entries and each annotation section to 65535 records.

#include <cstdint>

namespace genplot
{

enum class RecordType : std::uint16_t
{
    Header = 0xEFBE,
    Marker1 = 0x01FF,
    Marker2 = 0x02FF,
    PieceTable = 0x0300,
    Polyline = 0x0301,
    PieceEnd = 0x03FF,
    PenMode = 0x0400,
    PenModeOff = 0x0401,
    LineType = 0x0410,
    Annotation = 0x0500,
    End = 0xFFFF,
};

inline constexpr char kMagic[8] = {'G', 'E', 'N', 'P', 'T', 'V', '1', '\0'};

// Sizes, and the offsets of the record order table.
inline constexpr std::uint32_t kRecordHeaderSize = 4;
inline constexpr std::uint32_t kHeaderBodySize = 140;
inline constexpr std::uint32_t kHeaderRecordSize = kRecordHeaderSize + kHeaderBodySize; // 144
inline constexpr std::uint32_t kPieceTableOffset = 152;
inline constexpr std::uint32_t kSourceNameSize = 20;
inline constexpr std::uint32_t kPieceEntrySize = 20;
inline constexpr std::uint32_t kPieceEntryRecordOffset = 16;
inline constexpr std::uint32_t kPolylineHeadSize = 4; // point-list tag and point count
inline constexpr std::uint16_t kPointListTag = 0x0100;
inline constexpr std::uint32_t kPointEntrySize = 10;
inline constexpr std::uint32_t kAnnotationFixedSize = 30;
inline constexpr std::uint32_t kAnnotationDirectionSize = 8;
inline constexpr std::uint32_t kAnnotationHeightSize = 4;
inline constexpr std::uint32_t kMaxAnnotationText = 511;

inline constexpr std::uint8_t kAnnotationHasDirection = 0x01;
inline constexpr std::uint8_t kAnnotationHasHeight = 0x10;
inline constexpr std::int32_t kPlainDirectionX = 10000; // (10000, 0): no direction stored
inline constexpr std::int32_t kPlainDirectionY = 0;
inline constexpr std::int32_t kAbsentOffset = -1;

// Limits set by the 16-bit length and count fields.
inline constexpr std::uint32_t kMaxPolylinePoints = 6553; // 10 x 6553 + 4 = 65534
inline constexpr std::uint32_t kMaxPieces = 3276;         // 20 x 3276 = 65520
inline constexpr std::uint32_t kMaxAnnotationsPerSection = 65535;

// Header body offsets (from the start of the body; the file offset is 4 more).
namespace header
{
inline constexpr std::uint32_t kMagic = 0;
inline constexpr std::uint32_t kSourceName = 8;
inline constexpr std::uint32_t kConfigFlag = 30;
inline constexpr std::uint32_t kExtents = 34;
inline constexpr std::uint32_t kLooseAnnotationCount = 50;
inline constexpr std::uint32_t kPieceAnnotationCount = 52;
inline constexpr std::uint32_t kPieceCount = 54;
inline constexpr std::uint32_t kDefaultTextHeight = 70;
inline constexpr std::uint32_t kConfigValues = 82;
inline constexpr std::uint32_t kConfigValueCount = 5;
inline constexpr std::uint32_t kFlagBytes = 110;
inline constexpr std::uint32_t kSectionOffsets = 112;
inline constexpr std::uint32_t kSectionSlots = 7;
inline constexpr std::uint32_t kLooseAnnotationSlot = 2;
inline constexpr std::uint32_t kPieceTableSlot = 4;
inline constexpr std::uint32_t kPieceAnnotationSlot = 5;
} // namespace header

// Annotation payload offsets.
namespace annotation
{
inline constexpr std::uint32_t kTextLength = 0;
inline constexpr std::uint32_t kFlags = 2;
inline constexpr std::uint32_t kJustification = 5;
inline constexpr std::uint32_t kExtent = 6;
inline constexpr std::uint32_t kPosition = 22;
} // namespace annotation

// The header body table, field by field.
static_assert(header::kMagic + sizeof kMagic == header::kSourceName);
static_assert(header::kSourceName + kSourceNameSize + 2 == header::kConfigFlag);
static_assert(header::kConfigFlag + 4 == header::kExtents);
static_assert(header::kExtents + 16 == header::kLooseAnnotationCount);
static_assert(header::kLooseAnnotationCount + 2 == header::kPieceAnnotationCount);
static_assert(header::kPieceAnnotationCount + 2 == header::kPieceCount);
static_assert(header::kPieceCount + 4 + 12 == header::kDefaultTextHeight);
static_assert(header::kDefaultTextHeight + 12 == header::kConfigValues);
static_assert(header::kConfigValues + 4 * header::kConfigValueCount + 8 == header::kFlagBytes);
static_assert(header::kFlagBytes + 2 == header::kSectionOffsets);
static_assert(header::kSectionOffsets + 4 * header::kSectionSlots == kHeaderBodySize);

// The record order, the piece-table entry and the annotation payload tables.
static_assert(kHeaderRecordSize == 144);
static_assert(kHeaderRecordSize + 2 * kRecordHeaderSize == kPieceTableOffset);
static_assert(kPieceEntryRecordOffset + 4 == kPieceEntrySize);
static_assert(annotation::kJustification + 1 == annotation::kExtent);
static_assert(annotation::kExtent + 16 == annotation::kPosition);
static_assert(annotation::kPosition + 8 == kAnnotationFixedSize);
static_assert(kAnnotationFixedSize + kAnnotationDirectionSize + kAnnotationHeightSize +
                  kMaxAnnotationText ==
              553);

// The limits are the largest counts whose length still fits 16 bits.
static_assert(kMaxPolylinePoints * kPointEntrySize + kPolylineHeadSize <= 0xFFFF);
static_assert((kMaxPolylinePoints + 1) * kPointEntrySize + kPolylineHeadSize > 0xFFFF);
static_assert(kMaxPieces * kPieceEntrySize <= 0xFFFF);
static_assert((kMaxPieces + 1) * kPieceEntrySize > 0xFFFF);

} // namespace genplot
