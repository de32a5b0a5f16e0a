#include "genplot/plot_file_reader.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

// genplot verify FILE: checks the whole structure of a plot file. A sound file gets a one-line
// summary on stdout; otherwise the first problem goes to stderr as "FILE: OFFSET: problem", and
// the exit status tells a damaged file from a cancelled one.

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "verify";

void RunVerify(const std::string& path)
{
    const PlotFile plot = LoadPlotFile(path);
    if (plot.status != PlotFileStatus::Valid)
        Fail(kCommand, PlotProblem(path, plot), PlotExitStatus(plot));

    // Counted as convert counts what it wrote: lines other than the outlines, every point once
    // (a line split over several records repeats the point where one record ends), labels.
    std::size_t lines = 0;
    std::size_t points = 0;
    for (const PlotFilePiece& piece : plot.pieces)
    {
        bool outline = true;
        for (const PlotPieceRecord& record : piece.records)
        {
            if (record.type != RecordType::Polyline)
                continue;
            if (record.continuesPrevious)
            {
                points += record.points.empty() ? 0 : record.points.size() - 1;
                continue;
            }
            points += record.points.size();
            lines += outline ? 0 : 1;
            outline = false;
        }
    }
    std::cout << path << ": valid plot file: " << plot.pieces.size() << " pieces, " << lines
              << " lines, " << plot.looseAnnotations.size() + plot.pieceAnnotations.size()
              << " labels, " << points << " points, " << plot.size << " bytes" << std::endl;
}

} // namespace

void AddVerifyCommand(CLI::App& app)
{
    auto path = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "verify", "Check the whole structure of a plot file and report its first problem");
    command->footer("Checks record lengths, the order of the sections, piece-table offsets, "
                    "the counts and offsets in the header and the end record. A sound file gets "
                    "one line on stdout: pieces, lines (outlines not counted), labels, points "
                    "and bytes, as convert counts them.\nExit status: 0 sound file, 1 damaged "
                    "or not a plot file (FILE: OFFSET: problem on stderr), 2 cancelled write "
                    "(FILE: OFFSET: cancelled: ...), 3 cannot read FILE (not a regular file, "
                    "or missing).\n");
    command->add_option("FILE", *path, "Plot file to check")->required();
    command->callback([path] { RunVerify(*path); });
}

} // namespace genplot::tool
