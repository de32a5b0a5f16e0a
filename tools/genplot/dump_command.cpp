#include "genplot/plot_file_reader.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

// genplot dump FILE: one line per record, in file order: its offset, its type name and its
// decoded fields as name=value. Piece-table entries get a line each. An annotation shows its
// direction and text height whether the record carries them or not (flags tell which). The reader
// stops at the first damaged record, so a damaged file is printed up to there and the problem
// follows on stderr.

namespace genplot::tool
{
namespace
{

struct DumpOptions
{
    std::string path;
    bool points = false;
};

constexpr const char* kCommand = "dump";

std::string Hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::ostream& operator<<(std::ostream& out, const PlotFilePoint& point)
{
    return out << '(' << point.x << ',' << point.y << ')';
}

std::ostream& operator<<(std::ostream& out, const PlotFileBox& box)
{
    return out << box.lowerLeft << '-' << box.upperRight;
}

// Text bytes in double quotes: printable ASCII as is, everything else escaped C-style.
std::string Quote(const std::string& bytes)
{
    std::string out = "\"";
    for (char c : bytes)
    {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte >= 0x20 && byte < 0x7F)
            {
                out += c;
            }
            else
            {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", byte);
                out += escape;
            }
        }
    }
    return out + '"';
}

// The start of every line: offset, type name, type and length.
void Head(std::ostream& out, std::uint64_t offset, RecordType type, std::uint32_t length)
{
    const auto code = static_cast<unsigned>(type);
    out << offset << ' ' << PlotRecordTypeName(static_cast<std::uint16_t>(code))
        << " type=" << Hex(code, 4) << " length=" << length;
}

void DumpHeader(std::ostream& out, const PlotFileHeader& h)
{
    Head(out, 0, RecordType::Header, kHeaderBodySize);
    out << " magic=\"GENPTV1\" sourceName=" << Quote(h.sourceName) << " configFlag=" << h.configFlag
        << " extents=" << h.extents << " looseAnnotationCount=" << h.looseAnnotationCount
        << " pieceAnnotationCount=" << h.pieceAnnotationCount << " pieceCount=" << h.pieceCount
        << " defaultTextHeight=" << h.defaultTextHeight << " configValues=";
    for (std::size_t i = 0; i < h.configValues.size(); ++i)
    {
        out << (i ? "," : "") << h.configValues[i];
    }
    out << " sectionOffsets=";
    for (std::size_t i = 0; i < h.sectionOffsets.size(); ++i)
    {
        out << (i ? "," : "") << h.sectionOffsets[i];
    }
    out << '\n';
}

void DumpPieceRecord(std::ostream& out, std::size_t piece, const PlotPieceRecord& record,
                     bool points)
{
    std::uint32_t length = 0;
    if (record.type == RecordType::LineType)
    {
        length = 1;
    }
    else if (record.type == RecordType::Polyline)
    {
        length = static_cast<std::uint32_t>(kPointEntrySize * record.points.size() + 4);
    }
    Head(out, record.offset, record.type, length);
    out << " piece=" << piece;
    if (record.type == RecordType::LineType)
    {
        out << " code=" << static_cast<unsigned>(record.lineTypeCode)
            << (record.lineTypeCode == 1 ? " style=solid" : " style=broken");
    }
    else if (record.type == RecordType::Polyline)
    {
        out << " points=" << record.points.size();
        if (record.continuesPrevious)
        {
            out << " continues=1";
        }
        if (points)
        {
            out << " [";
            for (std::size_t i = 0; i < record.points.size(); ++i)
            {
                out << (i ? " " : "") << record.points[i];
            }
            out << ']';
        }
    }
    out << '\n';
}

void DumpAnnotation(std::ostream& out, const char* section, const PlotFileAnnotation& a)
{
    const bool direction = (a.flags & kAnnotationHasDirection) != 0;
    const bool height = (a.flags & kAnnotationHasHeight) != 0;
    const auto length = static_cast<std::uint32_t>(kAnnotationFixedSize + a.text.size() +
                                                   (direction ? 8 : 0) + (height ? 4 : 0));
    Head(out, a.offset, RecordType::Annotation, length);
    out << " section=" << section << " flags=" << Hex(a.flags, 2)
        << " justification=" << static_cast<unsigned>(a.justification) << " extent=" << a.extent
        << " position=" << a.position << " direction=(" << a.directionX << ',' << a.directionY
        << ')' << " textHeight=" << a.textHeight << " textLength=" << a.text.size()
        << " text=" << Quote(a.text) << '\n';
}

void Dump(std::ostream& out, const PlotFile& plot, bool points)
{
    if (plot.hasHeader)
    {
        DumpHeader(out, plot.header);
    }
    const RecordType markers[] = {RecordType::Marker1, RecordType::Marker2};
    for (int i = 0; i < plot.markersRead; ++i)
    {
        Head(out, kHeaderRecordSize + kRecordHeaderSize * static_cast<unsigned>(i), markers[i], 0);
        out << '\n';
    }
    if (plot.hasPieceTable)
    {
        Head(out, kPieceTableOffset, RecordType::PieceTable,
             static_cast<std::uint32_t>(kPieceEntrySize * plot.pieces.size()));
        out << " entries=" << plot.pieces.size() << '\n';
        for (std::size_t i = 0; i < plot.pieces.size(); ++i)
        {
            const PlotFilePiece& piece = plot.pieces[i];
            out << piece.entryOffset << " entry piece=" << i << " box=" << piece.box
                << " recordOffset=" << piece.recordOffset << '\n';
        }
    }
    for (std::size_t i = 0; i < plot.pieces.size(); ++i)
    {
        for (const PlotPieceRecord& record : plot.pieces[i].records)
        {
            DumpPieceRecord(out, i, record, points);
        }
    }
    for (const PlotFileAnnotation& annotation : plot.looseAnnotations)
    {
        DumpAnnotation(out, "loose", annotation);
    }
    for (const PlotFileAnnotation& annotation : plot.pieceAnnotations)
    {
        DumpAnnotation(out, "piece", annotation);
    }
    if (plot.hasEnd)
    {
        Head(out, plot.endOffset, RecordType::End, 0);
        out << '\n';
    }
}

void RunDump(const DumpOptions& options)
{
    const PlotFile plot = LoadPlotFile(options.path);
    if (plot.status == PlotFileStatus::Unreadable)
    {
        Fail(kCommand, PlotProblem(options.path, plot), kExitUnreadablePlot);
    }
    Dump(std::cout, plot, options.points);
    std::cout.flush();
    if (plot.status != PlotFileStatus::Valid)
    {
        Fail(kCommand, PlotProblem(options.path, plot), PlotExitStatus(plot));
    }
}

} // namespace

void AddDumpCommand(CLI::App& app)
{
    auto options = std::make_shared<DumpOptions>();
    CLI::App* command =
        app.add_subcommand("dump", "Print every record of a plot file with its offset, type "
                                   "and decoded fields");
    command->footer("One line per record: OFFSET TYPE-NAME type=... length=... fields. A "
                    "damaged file is printed up to its first problem, which follows on stderr "
                    "as FILE: OFFSET: problem.\nExit status: 0 sound file, 1 damaged or not a plot "
                    "file, 2 cancelled file, 3 cannot read FILE.\n");
    command->add_option("FILE", options->path, "Plot file to print")->required();
    command->add_flag("-p,--points", options->points, "Also print the points of every polyline");
    command->callback([options] { RunDump(*options); });
}

} // namespace genplot::tool
