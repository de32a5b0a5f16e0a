// genplot convert INPUT -o OUTPUT: reads an HP-GL file and acts as the library's host. The
// importer pours strokes and labels into a CPlotInfo; the plot is finalised and written by
// CGenPlot under a temporary name with a progress bar, and renamed to OUTPUT only when it is
// complete. Ctrl-C cancels the write through the message pump and the cancel flag.

#include "genplot/gen_plot.h"
#include "geometry/label.h"
#include "geometry/perim.h"
#include "hpgl/import.h"
#include "platform/registry.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/output_file.h"
#include "tools/genplot/terminal_progress.h"
#include "tools/genplot/termination.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "convert";
// Larger inputs would need more memory than a plot of the importer's point budget anyway.
constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{1} << 30;
// The default character height (SI 0.19, 0.27 cm) in plot units.
constexpr int kDefaultTextHeight = 108;

struct ConvertOptions
{
    std::string input;
    std::string output;
    int closeTolerance = 0;
    std::string sourceName;
    std::string registry;
    std::string penTable;
    bool penTableGiven = false;
    std::string p1p2 = "603,521,10603,7721";
    std::size_t maxPoints = 10000000;
    std::string progress = "auto";
};

struct PlotCounts
{
    std::size_t pieces = 0;
    std::size_t lines = 0;
    std::size_t labels = 0;
    std::size_t points = 0;
    int highestPen = 0;
};

void ParseP1P2(const std::string& text, HpglImportOptions& options)
{
    double values[4];
    std::istringstream in(text);
    char comma = ',';
    for (int i = 0; i < 4; ++i)
    {
        if ((i > 0 && !(in >> comma)) || comma != ',' || !(in >> values[i]) ||
            std::abs(values[i]) > static_cast<double>(kMaxCoordinate))
            FailUsage(kCommand, "--p1p2 takes four numbers X1,Y1,X2,Y2, not \"" + text + "\"");
    }
    if (in >> comma)
        FailUsage(kCommand, "--p1p2 takes four numbers X1,Y1,X2,Y2, not \"" + text + "\"");
    options.p1x = values[0];
    options.p1y = values[1];
    options.p2x = values[2];
    options.p2y = values[3];
}

// "PEN=VALUE,PEN=VALUE": the entries to set; every other pen gets 1.
std::map<int, int> ParsePenTable(const std::string& text)
{
    std::map<int, int> entries;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
    {
        if (item.empty())
            continue;
        std::istringstream pair(item);
        long pen = 0;
        long value = 0;
        char equals = '\0';
        char extra = '\0';
        if (!(pair >> pen >> equals >> value) || equals != '=' || (pair >> extra) || pen < 0 ||
            pen > kMaxPen || value < INT32_MIN || value > INT32_MAX)
            FailUsage(kCommand, "--pen-table takes PEN=VALUE pairs with pens 0.." +
                                    std::to_string(kMaxPen) + ", not \"" + item + "\"");
        entries[static_cast<int>(pen)] = static_cast<int>(value);
    }
    return entries;
}

// Reads at most kMaxInputBytes from `in`; `name` is what messages call it.
std::string ReadStream(std::istream& in, const std::string& name)
{
    std::string data;
    char block[65536];
    while (in.read(block, sizeof block) || in.gcount() > 0)
    {
        data.append(block, static_cast<std::size_t>(in.gcount()));
        if (data.size() > kMaxInputBytes)
            Fail(kCommand,
                 name + ": too large (at most " + std::to_string(kMaxInputBytes) + " bytes)");
    }
    if (in.bad())
        Fail(kCommand, "cannot read " + name + ": " + ErrorText(errno));
    return data;
}

// The drawing: a regular file, a pipe, or "-" for standard input.
std::string ReadInput(const std::string& path)
{
    if (path == "-")
    {
        std::ios::sync_with_stdio(false);
        return ReadStream(std::cin, "standard input");
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        Fail(kCommand,
             "cannot open " + path + ": " + (error ? error.message() : ErrorText(ENOENT)));
    if (std::filesystem::is_directory(status))
        Fail(kCommand, path + ": is a folder");
    const bool regular = std::filesystem::is_regular_file(status);
    if (!regular && !std::filesystem::is_fifo(status))
        Fail(kCommand, path + ": not a regular file or a pipe");
    if (regular)
    {
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        if (!error && size > kMaxInputBytes)
            Fail(kCommand, path + ": too large (" + std::to_string(size) + " bytes; at most " +
                               std::to_string(kMaxInputBytes) + ")");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(kCommand, "cannot open " + path + ": " + ErrorText(errno));
    return ReadStream(in, path);
}

PlotCounts Count(const CPlotInfo& plot)
{
    PlotCounts counts;
    counts.pieces = static_cast<std::size_t>(plot.pieces.GetCount());
    const auto seePen = [&counts](const CLineSeg* line) {
        counts.highestPen = std::max(counts.highestPen, static_cast<int>(line->penNumber));
    };
    for (POSITION p = plot.pieces.GetHeadPosition(); p != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(p));
        counts.points += static_cast<std::size_t>(piece->outline.GetPointCount());
        seePen(&piece->outline);
        for (POSITION q = piece->nonPerimeterLines.GetHeadPosition(); q != nullptr;)
        {
            const auto* line = static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(q));
            ++counts.lines;
            counts.points += static_cast<std::size_t>(line->GetPointCount());
            seePen(line);
        }
        for (POSITION q = piece->labels.GetHeadPosition(); q != nullptr;)
            if (!static_cast<const CLabel*>(piece->labels.GetNext(q))->text.IsEmpty())
                ++counts.labels;
    }
    for (POSITION q = plot.looseLabels.GetHeadPosition(); q != nullptr;)
        if (!static_cast<const CLabel*>(plot.looseLabels.GetNext(q))->text.IsEmpty())
            ++counts.labels;
    return counts;
}

// The height most labels have: the file stores a label's height only when it differs from
// the plot's default.
int CommonTextHeight(const CPlotInfo& plot)
{
    std::map<int, std::size_t> heights;
    for (POSITION q = plot.looseLabels.GetHeadPosition(); q != nullptr;)
        ++heights[static_cast<const CLabel*>(plot.looseLabels.GetNext(q))->textHeight];
    int best = kDefaultTextHeight;
    std::size_t bestCount = 0;
    for (const auto& [height, count] : heights)
    {
        if (count > bestCount)
        {
            best = height;
            bestCount = count;
        }
    }
    return best;
}

// The library reads its fat-line settings from the registry file named here.
void UseRegistry(const std::string& path)
{
    if (UseRegistryFile(path.c_str()))
        return;
    const int error = errno;
    std::string reason;
    if (error == EINVAL)
        reason = "not a regular file";
    else if (error == EFBIG)
        reason = "larger than the " + std::to_string(kMaxRegistryFileSize >> 20) +
                 " MiB a registry file may have";
    else if (error == ENOSYS)
        reason = "settings come from the system registry here";
    else
        reason = ErrorText(error);
    Fail(kCommand, "--registry " + path + ": " + reason);
}

void CheckInterrupt(const ConvertOptions& options)
{
    if (Interrupted())
        Fail(kCommand, "interrupted; " + options.output + " was not written", kExitInterrupted);
}

void RunConvert(const ConvertOptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    InstallInterruptHandler();
    // Until the output is being written, an interrupt has nothing to remove but is still
    // about this output.
    SetTemporaryOutput("", options.output);

    HpglImportOptions importOptions;
    ParseP1P2(options.p1p2, importOptions);
    importOptions.maxPoints = options.maxPoints;
    importOptions.interrupt = InterruptFlag();
    const std::map<int, int> penEntries = ParsePenTable(options.penTable);
    if (!options.registry.empty())
        UseRegistry(options.registry);

    CPlotInfo plot;
    plot.closeTolerance = options.closeTolerance;
    HpglImportReport report;
    {
        const std::string input = ReadInput(options.input);
        try
        {
            ImportHpgl(input, plot, importOptions, report);
        }
        catch (const HpglInputError& error)
        {
            Fail(kCommand, options.input + ": " + error.what());
        }
        catch (const HpglInterrupted&)
        {
            CheckInterrupt(options);
        }
    }
    CheckInterrupt(options);

    const int textHeight = CommonTextHeight(plot);
    CPlotConfig config;
    config.configValue6 = textHeight;
    plot.Initialize(config, 0.0, 0.0, 0.0, textHeight);

    // End the last stroke and place the loose lines first, so that the lines counted here are
    // exactly those the fat-line pass in FinalizePlotInfo starts from.
    plot.CheckForClosure();
    plot.AssignLooseLinesToPieces();
    const std::size_t linesBeforeThickening = Count(plot).lines;
    plot.FinalizePlotInfo();
    const PlotCounts counts = Count(plot);
    CheckInterrupt(options);

    std::vector<int> penTable;
    if (options.penTableGiven)
    {
        const int highest =
            std::max(counts.highestPen, penEntries.empty() ? 0 : penEntries.rbegin()->first);
        penTable.assign(static_cast<std::size_t>(highest) + 1, 1);
        for (const auto& [pen, value] : penEntries)
            penTable[static_cast<std::size_t>(pen)] = value;
    }

    std::string sourceName = options.sourceName;
    if (sourceName.empty())
        sourceName = options.input == "-"
                         ? std::string("stdin")
                         : std::filesystem::path(options.input).filename().string();
    CGenPlot writer;
    writer.Initialize(sourceName.c_str(), &config);

    std::unique_ptr<AtomicOutputFile> output;
    try
    {
        output = std::make_unique<AtomicOutputFile>(
            options.output, std::vector<std::string>{options.input}, OutputAccess::Seekable);
    }
    catch (const std::runtime_error& error)
    {
        Fail(kCommand, error.what());
    }
    int cancel = 0;
    int written = 0;
    {
        // The write pumps messages, so Ctrl-C can cancel it the way a host's button would.
        const CancellableStage stage;
        TerminalProgress progress("writing", ParseProgressDisplay(options.progress));
        // The writer's positions run from 75 to about 150.
        progress.Control()->SetRange(75, 150);
        progress.SetCancelFlag(&cancel);
        written = writer.write_plot_file(output->Stream(), &plot, &config, progress.Control(),
                                         &cancel, penTable.empty() ? nullptr : penTable.data());
    }
    if (cancel != 0 || Interrupted())
    {
        output->Discard();
        CheckInterrupt(options);
    }
    if (written != 1)
    {
        output->Discard();
        Fail(kCommand, "writing " + options.output + " failed");
    }
    // The writer leaves the stream after the header it rewrote last; the end is the size.
    long bytes = -1;
    if (std::fseek(output->Stream(), 0, SEEK_END) == 0)
        bytes = std::ftell(output->Stream());
    const bool toStandardOutput = output->IsStandardOutput();
    try
    {
        output->Commit();
    }
    catch (const std::runtime_error& error)
    {
        Fail(kCommand, error.what());
    }

    for (const std::string& note : report.Notes())
        std::cerr << "genplot " << kCommand << ": note: " << note << '\n';
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    // With the plot on standard output, the summary goes where the other messages go.
    std::ostream& summary = toStandardOutput ? std::cerr : std::cout;
    summary << options.output << ": " << counts.pieces << " pieces, " << counts.lines << " lines, "
            << counts.labels << " labels, " << counts.points << " points, "
            << counts.lines - linesBeforeThickening << " strokes added by thickening, "
            << (bytes < 0 ? 0 : bytes) << " bytes, " << time << std::endl;
}

} // namespace

void AddConvertCommand(CLI::App& app)
{
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* command = app.add_subcommand(
        "convert", "Convert an HP-GL / HP-GL/2 plotter file into a generic plot file");
    command
        ->add_option("INPUT", options->input,
                     "HP-GL or HP-GL/2 file to read (- for standard input)")
        ->required();
    command
        ->add_option("-o,--output", options->output,
                     "Plot file to write (- for standard output); a regular file appears only once "
                     "complete, a named pipe or a device is written in place")
        ->required();
    command
        ->add_option("--close-tolerance", options->closeTolerance,
                     "A stroke closes into a piece when it ends within this many plot units of "
                     "its start")
        ->check(CLI::Range(0, 1000000))
        ->capture_default_str();
    command->add_option("--source-name", options->sourceName,
                        "Source name recorded in the file header (20 characters kept; default: "
                        "the input's file name)");
    command->add_option("--registry", options->registry,
                        "Registry file (regedit export) the library reads its settings from, in "
                        "place of GENPLOT_REGISTRY");
    command
        ->add_option("--pen-table", options->penTable,
                     "Per-pen table for the writer, as PEN=VALUE pairs separated by commas; pens "
                     "not listed get 1. Pens with 0 are written in pen mode off (record 0x0401)")
        ->each([options](const std::string&) { options->penTableGiven = true; });
    command
        ->add_option("--p1p2", options->p1p2,
                     "Scaling points P1 and P2 (plotter units) for files that scale without IP: "
                     "X1,Y1,X2,Y2")
        ->capture_default_str();
    command
        ->add_option("--max-points", options->maxPoints,
                     "Refuse drawings that need more points than this, thickening included")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1000000000}))
        ->capture_default_str();
    command
        ->add_option("--progress", options->progress,
                     "Progress bar on stderr: auto (when it is a terminal), always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    command->footer("Exit status: 0 written, 1 failed (nothing written), 64 wrong command line, "
                    "130 interrupted (nothing written).");
    command->callback([options] { RunConvert(*options); });
}

} // namespace genplot::tool
