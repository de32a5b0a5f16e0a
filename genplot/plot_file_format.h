#pragma once

// The generic plot file: a header record, two empty marker records, the piece table, one
// section per piece, the loose and the piece annotation sections, and an end record.
// Every integer is little-endian two's complement; records are packed.
//
// Record header (4 bytes): type (u16), payload length (u16, header not counted).
//
// Header body (140 bytes, file offsets 4-143):
//   file  body width field
//     4     0    8  magic "GENPTV1\0"
//    12     8   20  source name, NUL-padded, no terminator when 20 bytes long
//    32    28    1  0
//    33    29    1  padding (zero)
//    34    30  u16  configFlag (0 or 1)
//    36    32  u16  0
//    38    34  4xi32 extents: lowerLeft x, y, upperRight x, y
//    54    50  u16  looseAnnotationCount
//    56    52  u16  pieceAnnotationCount
//    58    54  u16  pieceCount
//    60    56  u16  0
//    62    58   12  unassigned (zero)
//    74    70  i32  defaultTextHeight
//    78    74  i32  0
//    82    78  i32  0
//    86    82 5xi32 configValues
//   106   102  i32  0
//   110   106  i32  0
//   114   110    1  255
//   115   111    1  255
//   116   112 7xi32 sectionOffsets: -1, -1, looseAnnotation, -1, pieceTable (152),
//                   pieceAnnotation, -1 (absent sections are -1)
//
// Piece-table entry (20 bytes): box lowerLeft x, y, upperRight x, y, recordOffset (i32).
// Polyline payload: tag 0x0100 (u16), n (u16), n x (x i32, y i32, 0 u16).
// Annotation payload: textLength (u16), flags (u8: 0x01 direction, 0x10 height), 0, 0,
//   justification (u8), extent 4 x i32, position 2 x i32, [direction 2 x i32],
//   [textHeight i32], text bytes.

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

inline constexpr std::uint32_t kRecordHeaderSize = 4;
inline constexpr std::uint32_t kHeaderBodySize = 140;
inline constexpr std::uint32_t kHeaderRecordSize = kRecordHeaderSize + kHeaderBodySize; // 144
inline constexpr std::uint32_t kSourceNameSize = 20;
inline constexpr std::uint32_t kPieceTableOffset = 152;
inline constexpr std::uint32_t kPieceEntrySize = 20;
inline constexpr std::uint32_t kPointEntrySize = 10;
inline constexpr std::uint16_t kPointListTag = 0x0100;
inline constexpr std::uint32_t kAnnotationFixedSize = 30;
inline constexpr std::uint32_t kMaxAnnotationText = 511;

inline constexpr std::uint8_t kAnnotationHasDirection = 0x01;
inline constexpr std::uint8_t kAnnotationHasHeight = 0x10;

// Limits set by the 16-bit length and count fields.
inline constexpr std::uint32_t kMaxPolylinePoints = 6553; // 10 x 6553 + 4 = 65534
inline constexpr std::uint32_t kMaxPieces = 3276;         // 20 x 3276 = 65520
inline constexpr std::uint32_t kMaxAnnotationsPerSection = 65535;

// Header body offsets (from the start of the body; file offset is 4 more).
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
inline constexpr std::uint32_t kFlagBytes = 110;
inline constexpr std::uint32_t kSectionOffsets = 112;
inline constexpr std::uint32_t kLooseAnnotationSlot = 2;
inline constexpr std::uint32_t kPieceTableSlot = 4;
inline constexpr std::uint32_t kPieceAnnotationSlot = 5;
inline constexpr std::uint32_t kSectionSlots = 7;
} // namespace header

// Additions for the writer: field offsets inside piece-table entries and annotation payloads.
inline constexpr std::uint32_t kPieceEntryRecordOffset = 16;
inline constexpr std::uint32_t kPolylineHeadSize = 4; // point-list tag and point count
inline constexpr std::uint32_t kAnnotationDirectionSize = 8;
inline constexpr std::uint32_t kAnnotationHeightSize = 4;
inline constexpr std::int32_t kPlainDirectionX = 10000; // (10000, 0): no direction stored
inline constexpr std::int32_t kPlainDirectionY = 0;
inline constexpr std::int32_t kAbsentOffset = -1;

namespace annotation
{
inline constexpr std::uint32_t kTextLength = 0;
inline constexpr std::uint32_t kFlags = 2;
inline constexpr std::uint32_t kJustification = 5;
inline constexpr std::uint32_t kExtent = 6;
inline constexpr std::uint32_t kPosition = 22;
} // namespace annotation

namespace header
{
inline constexpr std::uint32_t kConfigValueCount = 5;
} // namespace header

static_assert(annotation::kPosition + 8 == kAnnotationFixedSize);
static_assert(kAnnotationFixedSize + kAnnotationDirectionSize + kAnnotationHeightSize +
                  kMaxAnnotationText <=
              0xFFFF);
static_assert(header::kConfigValues + 4 * header::kConfigValueCount + 8 == header::kFlagBytes);

static_assert(header::kSectionOffsets + 4 * header::kSectionSlots == kHeaderBodySize);
static_assert(kMaxPolylinePoints * kPointEntrySize + 4 <= 0xFFFF);
static_assert(kMaxPieces * kPieceEntrySize <= 0xFFFF);

} // namespace genplot
