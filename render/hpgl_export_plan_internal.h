#pragma once

// The order in which a plotter program draws a decoded plot file, chosen so that converting
// the program back gives the same plot file. A plot sorts its pieces by size and routes each
// line to the first piece, in that order, whose outline box holds one of the line's points
// at the moment the line ends; lines that meet no piece then wait until the plot is
// finished, when they are placed by the pieces' final order, or by distance when no box holds
// them. Labels are placed only when the plot is finished, each into the first piece whose
// box holds its anchor, and each placed label grows its piece's box at once. The file keeps
// the pieces and what each holds, not the order in which the drawing made them; the plan
// finds an order that leads the importer to the same result.

#include "genplot/plot_file_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace genplot::detail
{

/// How the chunks of a long stroke reached their piece.
enum class ChunkArrival : std::uint8_t
{
    /// The stroke was not cut.
    NotCut,
    /// Together, when the stroke ended.
    Routed,
    /// One by one when the plot was finished, each cut again (so each long chunk's tail is
    /// there twice).
    Placed,
};

/// One stroke of a piece: an outline or a line, with the records that carry its points (a
/// long line spans several records, each repeating the last point of the one before).
struct PlannedLine
{
    /// Index of the piece in the file.
    std::uint32_t piece = 0;
    /// Index of the first polyline record of the line in the piece's records.
    std::uint32_t firstRecord = 0;
    /// Number of records that carry the line's points.
    std::uint32_t recordCount = 0;
    /// Number of points, follow-on records' repeated first points not counted.
    std::uint32_t pointCount = 0;
    /// 1-based pen-mode record of the piece in force for the line (0 when none came yet).
    std::int32_t penIndex = 0;
    /// 2 for broken lines, else 0.
    std::int32_t lineType = 0;
    /// Pen width in plot units that makes the plot's fat-line pass draw the strokes the file
    /// holds for this line; 0 for a line drawn with the plotter's default width.
    std::int32_t width = 0;
    /// 0 for a line drawn as a stroke of its own; else the line carries on the stroke of the
    /// line before it in its piece, and its first `skip` points are already drawn there.
    std::uint32_t skip = 0;
    /// For the first line of a stroke the plot cut into chunks: how the chunks reached the
    /// piece, which the stroke's drawing must repeat.
    ChunkArrival arrival = ChunkArrival::NotCut;
};

/// Lines begin .. end-1 of a piece's planned lines, drawn one after the other.
struct LineRun
{
    std::uint32_t piece = 0;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

/// The whole drawing order. It holds a few words per line of the plot and nothing per point.
struct ExportPlan
{
    /// Per piece, the lines to draw, its outline first (without the strokes a width redraws).
    std::vector<std::vector<PlannedLine>> pieceLines;
    /// The runs of lines in the order they are drawn.
    std::vector<LineRun> runs;
    /// Indexes into the file's piece annotations, in the order they are written (after every
    /// stroke, as the importer places labels only when the plot is finished).
    std::vector<std::size_t> labels;
};

/// Plans the drawing of `plot`. A plot whose pieces are not in size order (not written by a
/// plot collection) is drawn in file order. With `widths`, lines are drawn with the pen width
/// whose strokes the file holds, and those strokes are left out (see FindLineWidths).
ExportPlan PlanExport(const PlotFile& plot, bool widths);

/// The line's points, a follow-on record's repeat of the point before left out.
std::vector<PlotFilePoint> LinePoints(const PlotFile& plot, const PlannedLine& line);

/// Whether `points` begins with `head` (and, when `exactly`, holds nothing more).
bool StartsWith(const std::vector<PlotFilePoint>& points, const std::vector<PlotFilePoint>& head,
                bool exactly);

/// `lines` are one piece's strokes, its outline first. Gives the width to every line whose
/// thickening strokes, as the plot's fat-line pass draws them, lead the piece's other lines,
/// and returns how many lines after the outline are such strokes.
std::size_t FindLineWidths(const PlotFile& plot, std::vector<PlannedLine>& lines);

} // namespace genplot::detail
