#include "genplot/plot_file_reader.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/output_file.h"
#include "tools/genplot/svg_writer.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

// genplot render FILE -o OUT.svg: draws a plot file as SVG. The picture goes through an
// AtomicOutputFile, so a failure never leaves a half picture under the name the user gave.

namespace genplot::tool
{
namespace
{

struct RenderOptions
{
    std::string input;
    std::string output;
    SvgOptions svg;
    bool allowCancelled = false;
};

constexpr int kExitOutputFailed = 4;

void RunRender(const RenderOptions& options)
{
    const PlotFile plot = LoadPlotFile(options.input);
    if (plot.status == PlotFileStatus::Cancelled && options.allowCancelled)
    {
        std::cerr << MessageLine("render",
                                 PlotProblem(options.input, plot) + "; drawing what was written")
                  << '\n';
    }
    else if (plot.status != PlotFileStatus::Valid)
    {
        Fail("render",
             PlotProblem(options.input, plot) +
                 (plot.status == PlotFileStatus::Cancelled
                      ? "; not drawn (--allow-cancelled draws what was written)"
                      : ""),
             PlotExitStatus(plot));
    }

    std::ostringstream svg;
    WritePlotSvg(plot, options.svg, svg);
    const std::string text = svg.str();
    try
    {
        AtomicOutputFile out(options.output, {options.input});
        if (std::fwrite(text.data(), 1, text.size(), out.Stream()) != text.size())
        {
            throw std::runtime_error("writing " + options.output + " failed: " + ErrorText(errno));
        }
        out.Commit();
    }
    catch (const std::runtime_error& error)
    {
        Fail("render", error.what(), kExitOutputFailed);
    }
}

} // namespace

void AddRenderCommand(CLI::App& app)
{
    auto options = std::make_shared<RenderOptions>();
    CLI::App* command = app.add_subcommand("render", "Draw a plot file as an SVG picture");
    command->footer("Pieces are drawn with their outlines and lines, each pen of a piece in its "
                    "own colour, broken line types dashed; labels are placed and turned as "
                    "their extents say; y points up.\nExit status: 0 drawn, 1 not a sound plot "
                    "file, 2 cancelled file (see --allow-cancelled), 3 cannot read FILE, 4 "
                    "cannot write the picture.\n");
    command->add_option("FILE", options->input, "Plot file to draw")->required();
    command->add_option("-o,--output", options->output, "SVG file to write")->required();
    command->add_option("--size", options->svg.size, "Pixel size of the picture's longer side")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    command->add_flag("--boxes", options->svg.boxes,
                      "Also draw piece boxes and label extents as dotted rectangles");
    command->add_flag("--allow-cancelled", options->allowCancelled,
                      "Draw what a cancelled file holds instead of refusing it");
    command->callback([options] { RunRender(*options); });
}

} // namespace genplot::tool
