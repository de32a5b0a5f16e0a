#include "genplot/plot_file_reader.h"
#include "render/hpgl_export.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/output_file.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

// genplot export FILE -o OUT.plt [--hpgl1]: writes a plot file as a plotter program. A file
// goes through an AtomicOutputFile, so a failure never leaves half a program under the name
// the user gave; "-" writes to standard output.

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "export";

struct ExportOptions
{
    std::string input;
    std::string output;
    bool hpgl1 = false;
    bool allowCancelled = false;
};

constexpr int kExitOutputFailed = 4;

[[noreturn]] void FailAbout(const std::string& file, const std::string& problem, int exitCode)
{
    Fail(kCommand, file + ": " + problem, exitCode);
}

void RunExport(const ExportOptions& options)
{
    const PlotFile plot = LoadPlotFile(options.input);
    if (plot.status != PlotFileStatus::Valid &&
        !(plot.status == PlotFileStatus::Cancelled && options.allowCancelled))
    {
        Fail(kCommand,
             PlotProblem(options.input, plot) +
                 (plot.status == PlotFileStatus::Cancelled
                      ? "; not exported (--allow-cancelled writes what was written)"
                      : ""),
             PlotExitStatus(plot));
    }
    const render::HpglDialect dialect =
        options.hpgl1 ? render::HpglDialect::Hpgl1 : render::HpglDialect::Hpgl2;
    try
    {
        AtomicOutputFile out(options.output, {options.input});
        if (!render::ExportHpgl(plot, out.Stream(), dialect))
            FailAbout(options.output, "write failed: " + ErrorText(errno), kExitOutputFailed);
        out.Commit();
    }
    catch (const std::runtime_error& failure)
    {
        FailAbout(options.output, failure.what(), kExitOutputFailed);
    }
}

} // namespace

void AddExportCommand(CLI::App& app)
{
    auto options = std::make_shared<ExportOptions>();
    CLI::App* command =
        app.add_subcommand("export", "Write a plot file as an HP-GL/2 (or HP-GL) plotter file");
    command->footer(
        "One plot unit is one plotter unit (0.025 mm); coordinates are kept as the file holds "
        "them. HP-GL/2 output starts with BP, IN and PS (the extents), draws with PE encoded "
        "polylines, selects a pen per pen change of a piece (SP1 to SP8), a line type per "
        "line-type record (LT solid, LT2 dashed) and, for a line the plot thickened, the pen "
        "width (PW) from which converting makes the same strokes again, and places labels with "
        "SI, DI and LO. Strokes and labels go out in an order that converts back into the same "
        "plot file. "
        "--hpgl1 writes plain HP-GL for older plotters: PU/PD lists, labels placed at the left "
        "end of each baseline.\n"
        "Exit status: 0 written, 1 not a sound plot file, 2 cancelled file (see "
        "--allow-cancelled), 3 cannot read FILE, 4 cannot write the output, 64 wrong command "
        "line.\n");
    command->add_option("FILE", options->input, "Plot file to export")->required();
    command
        ->add_option("-o,--output", options->output, "Plotter file to write; - for standard output")
        ->required();
    command->add_flag("--hpgl1", options->hpgl1, "Write plain HP-GL instead of HP-GL/2");
    command->add_flag("--allow-cancelled", options->allowCancelled,
                      "Export what a cancelled file holds instead of refusing it");
    command->callback([options] { RunExport(*options); });
}

} // namespace genplot::tool
