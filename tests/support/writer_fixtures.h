#pragma once

#include "geometry/label.h"
#include "geometry/line_seg.h"
#include "geometry/perim.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <utility>

// Plots for writer tests, built by filling CPlotInfo's fields directly, and the header record
// spelled out field by field from the file layout.

using PointList = std::initializer_list<std::pair<std::int32_t, std::int32_t>>;

/// Appends a piece whose outline holds `outline` (appended with no repeat test) and whose box
/// is set to `box` corners (lowerLeft x, y, upperRight x, y).
CPerim* AddPiece(CPlotInfo& plot, PointList outline, std::int32_t llx, std::int32_t lly,
                 std::int32_t urx, std::int32_t ury, std::int32_t pen = 1, int lineType = 0);
/// Appends a non-perimeter line to the piece.
CLineSeg* AddLine(CPerim* piece, PointList points, std::int32_t pen = 1, int lineType = 0);
/// A heap label; the caller appends it to a list that then owns it.
CLabel* MakeLabel(const std::string& text, std::int32_t x, std::int32_t y, std::int32_t textHeight,
                  std::int32_t directionX = 10000, std::int32_t directionY = 0,
                  std::int32_t justification = 1);

/// The header record's fields as a test expects them; defaults are those of a writer
/// initialised with source "drawing" and a default configuration, writing an empty plot.
struct ExpectedHeader
{
    std::string sourceName = "drawing";
    std::uint16_t configFlag = 0;
    std::int32_t extents[4] = {
        std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
        std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()};
    std::uint16_t looseAnnotationCount = 0;
    std::uint16_t pieceAnnotationCount = 0;
    std::uint16_t pieceCount = 0;
    std::int32_t defaultTextHeight = 5000;
    std::int32_t configValues[5] = {0, 0, 0, 0, 0};
    std::int32_t looseAnnotationOffset = -1;
    std::int32_t pieceTableOffset = 152;
    std::int32_t pieceAnnotationOffset = -1;
};

/// The header of the small files the reader and inspection tests spell out by hand: source
/// "sample", extents (0,0)-(100,100), default text height 10, configuration values 7 to 11,
/// no counts, the piece table at 152.
ExpectedHeader SampleHeader();

/// Appends the 144-byte header record (record header and body) to `bytes`.
ByteBuilder& AppendHeaderRecord(ByteBuilder& bytes, const ExpectedHeader& header);

/// An anonymous read-write binary file, closed on destruction.
struct FileCloser
{
    void operator()(std::FILE* file) const
    {
        std::fclose(file);
    }
};
using TempFile = std::unique_ptr<std::FILE, FileCloser>;
TempFile MakeTempFile();
