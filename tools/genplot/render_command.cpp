#include "genplot/plot_file_reader.h"
#include "render/render.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/output_file.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

// genplot render FILE -o OUT.pdf|OUT.png|OUT.svg: draws a plot file. A file goes through an
// AtomicOutputFile, so a failure never leaves a half picture under the name the user gave;
// "-" writes to standard output.

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "render";

struct RenderCommandOptions
{
    std::string input;
    std::string output;
    std::string format;
    std::string paper;
    bool scale = false;
    bool fit = false;
    render::RenderOptions render;
    bool allowCancelled = false;
};

constexpr int kExitOutputFailed = 4;

[[noreturn]] void FailAbout(const std::string& file, const std::string& problem, int exitCode)
{
    Fail(kCommand, file + ": " + problem, exitCode);
}

// The command line alone decides these, before the plot is read.
render::Format CheckCommandLine(RenderCommandOptions& options)
{
    render::Format format = render::Format::Pdf;
    if (!options.format.empty())
    {
        const std::string name = "x." + options.format;
        if (!render::FormatFromFileName(name, &format))
            FailUsage(kCommand, "--format takes pdf, png or svg, not \"" + options.format + "\"");
    }
    else if (options.output == "-")
    {
        FailUsage(kCommand, "writing to standard output needs --format pdf|png|svg");
    }
    else if (!render::FormatFromFileName(options.output, &format))
    {
        FailUsage(kCommand,
                  options.output + ": the name does not end in .pdf, .png or .svg; say --format");
    }
    if (!options.paper.empty() && !render::ParsePaper(options.paper, &options.render.paperWidthMm,
                                                      &options.render.paperHeightMm))
        FailUsage(kCommand, "--paper takes A0 to A4, letter, ledger or WIDTHxHEIGHTmm, not \"" +
                                options.paper + "\"");
    options.render.trueScale = options.scale;
    if (options.render.tile)
    {
        if (!options.scale || options.paper.empty())
            FailUsage(kCommand,
                      "--tile prints a true-scale plot on paper: it needs --scale and --paper");
        if (format != render::Format::Pdf)
            FailUsage(kCommand, "--tile makes several pages, which only PDF holds");
    }
    if (options.render.landscape && options.paper.empty())
        FailUsage(kCommand, "--landscape turns a paper: it needs --paper");
    return format;
}

// The first reading measures the plot for the page layout without keeping its points; the
// drawing reads it again.
render::PlotSurvey SurveyChecked(const RenderCommandOptions& options)
{
    render::PlotSurvey survey = render::SurveyPlotFile(options.input);
    const PlotFile& plot = survey.file;
    if (plot.status == PlotFileStatus::Valid)
        return survey;
    if (plot.status == PlotFileStatus::Cancelled && options.allowCancelled)
    {
        std::cerr << MessageLine(kCommand,
                                 PlotProblem(options.input, plot) + "; drawing what was written")
                  << '\n';
        return survey;
    }
    Fail(kCommand,
         PlotProblem(options.input, plot) +
             (plot.status == PlotFileStatus::Cancelled
                  ? "; not drawn (--allow-cancelled draws what was written)"
                  : ""),
         PlotExitStatus(plot));
}

// The program draws once and ends: the drawing caches go with it, so that a leak checker
// (the sanitizer build) sees nothing held at exit.
struct ReleaseCachesAtEnd
{
    ~ReleaseCachesAtEnd()
    {
        render::ReleaseDrawingCaches();
    }
};

void RunRender(RenderCommandOptions& options)
{
    const ReleaseCachesAtEnd release;
    const render::Format format = CheckCommandLine(options);
    const render::PlotSurvey survey = SurveyChecked(options);
    std::string error;
    try
    {
        AtomicOutputFile out(options.output, {options.input});
        switch (render::RenderPlotFile(survey, options.input, options.render, format, out.Stream(),
                                       &error))
        {
        case render::RenderOutcome::Drawn:
            break;
        case render::RenderOutcome::ReadFailed:
            FailAbout(options.input, error + "; no picture written", kExitUnreadablePlot);
        case render::RenderOutcome::DrawFailed:
            FailAbout(options.input, error, kExitOutputFailed);
        }
        out.Commit();
    }
    catch (const std::runtime_error& failure)
    {
        FailAbout(options.output, failure.what(), kExitOutputFailed);
    }
}

} // namespace

void AddRenderCommand(CLI::App& app)
{
    auto options = std::make_shared<RenderCommandOptions>();
    CLI::App* command =
        app.add_subcommand("render", "Draw a plot file as a PDF, PNG or SVG picture");
    command->footer(
        "Pieces are drawn with their outlines and lines, each pen change of a piece in its own "
        "colour, broken line types dashed, thickening strokes as drawn; labels are set in "
        "DejaVu Sans Mono, placed, turned and stretched to the extents --boxes shows.\n"
        "Without --paper the page is the plot's own box with a margin, --size pixels on its "
        "longer side (by default large enough that the smallest label is 12 pixels high; PDF "
        "and SVG pages count 96 pixels an inch). With --paper the plot is fitted to the paper, "
        "PNG pages at --dpi. --scale draws at true scale instead (one plot unit is --unit-mm, "
        "0.025 mm as HP-GL has it), on several PDF pages with crop marks when --tile is given "
        "and the plot is larger than the paper.\n"
        "Exit status: 0 drawn, 1 not a sound plot file, 2 cancelled file (see "
        "--allow-cancelled), 3 cannot read FILE, 4 cannot write or draw the picture, 64 wrong "
        "command line.\n");
    command->add_option("FILE", options->input, "Plot file to draw")->required();
    command->add_option("-o,--output", options->output, "Picture to write; - for standard output")
        ->required();
    command->add_option("--format", options->format,
                        "pdf, png or svg; the default comes from the output's extension");
    command->add_option("--paper", options->paper, "A0 to A4, letter, ledger or WIDTHxHEIGHTmm");
    command->add_flag("--landscape", options->render.landscape, "Turn the paper to landscape");
    CLI::Option* fit = command->add_flag(
        "--fit", options->fit, "Fit the plot's extents to the page with a margin (the default)");
    command->add_flag("--scale", options->scale, "Draw at true scale (see --unit-mm)")
        ->excludes(fit);
    command->add_option("--unit-mm", options->render.unitMm, "Length of one plot unit in mm")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    command->add_option("--dpi", options->render.dpi, "PNG pixels per inch of paper")
        ->check(CLI::Range(1.0, 10000.0))
        ->capture_default_str();
    command
        ->add_option("--size", options->render.sizePixels,
                     "Without --paper: the page's longer side in pixels")
        ->check(CLI::Range(1, 32767));
    command->add_flag("--tile", options->render.tile,
                      "At true scale, print a plot larger than the paper on several pages");
    command->add_flag("--mono", options->render.mono, "Draw everything in black");
    command->add_flag("--boxes", options->render.boxes,
                      "Also draw piece boxes and label extents as dotted rectangles");
    command->add_flag("--allow-cancelled", options->allowCancelled,
                      "Draw what a cancelled file holds instead of refusing it");
    command->callback([options] { RunRender(*options); });
}

} // namespace genplot::tool
