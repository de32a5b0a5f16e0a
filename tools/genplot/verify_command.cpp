#include "genplot/plot_file_reader.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

// genplot verify FILE: checks the whole structure of a plot file. A sound file gets a one-line
// summary on stdout; otherwise the first problem goes to stderr as "OFFSET: problem", and the
// exit status tells a damaged file from a cancelled one.

namespace genplot::tool
{
namespace
{

constexpr int kExitInvalid = 1;
constexpr int kExitCancelled = 2;
constexpr int kExitUnreadable = 3;

void RunVerify(const std::string& path)
{
    const PlotFile plot = LoadPlotFile(path);
    switch (plot.status)
    {
    case PlotFileStatus::Valid: {
        std::size_t lines = 0;
        std::size_t points = 0;
        for (const PlotFilePiece& piece : plot.pieces)
        {
            for (const PlotPieceRecord& record : piece.records)
            {
                if (record.type == RecordType::Polyline)
                {
                    lines += record.continuesPrevious ? 0 : 1;
                    points += record.points.size();
                }
            }
        }
        std::cout << path << ": valid plot file: pieces " << plot.pieces.size() << ", lines "
                  << lines << " (outlines included), points " << points << ", annotations "
                  << plot.looseAnnotations.size() << " loose and " << plot.pieceAnnotations.size()
                  << " in pieces, bytes " << plot.size << '\n';
        return;
    }
    case PlotFileStatus::Unreadable:
        Fail("verify", plot.problem, kExitUnreadable);
    case PlotFileStatus::Cancelled:
        std::cerr << plot.problemOffset << ": " << plot.problem << '\n';
        throw CLI::RuntimeError(kExitCancelled);
    case PlotFileStatus::Invalid:
        break;
    }
    std::cerr << plot.problemOffset << ": " << plot.problem << '\n';
    throw CLI::RuntimeError(kExitInvalid);
}

} // namespace

void AddVerifyCommand(CLI::App& app)
{
    auto path = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "verify", "Check the whole structure of a plot file and report its first problem");
    command->footer("Checks record lengths, the order of the sections, piece-table offsets, "
                    "the counts and offsets in the header and the end record.\nExit status: 0 "
                    "sound file, 1 damaged or not a plot file (OFFSET: problem on stderr), 2 "
                    "cancelled write (OFFSET: cancelled: ...), 3 cannot read FILE.\n");
    command->add_option("FILE", *path, "Plot file to check")->required();
    command->callback([path] { RunVerify(*path); });
}

} // namespace genplot::tool
