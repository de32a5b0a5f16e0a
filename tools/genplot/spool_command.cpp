// genplot spool [QUEUEFILE] --printer DEST: prints the submissions of a plotter queue file
// through a CUPS destination, each exactly once.

#include "platform/drive_info.h"
#include "render/render.h"
#include "spool/print_language.h"
#include "spool/spool_files.h"
#include "spool/spooler.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "spool";
constexpr const char* kDefaultQueueFile = "C:\\plotque.que";
// Exit statuses besides 0 (drained) and 1 (cannot go on).
constexpr int kExitRejected = 2;
constexpr int kExitPending = 3;

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int)
{
    stopRequested = 1;
}

struct SpoolCommandOptions
{
    std::string queueFile;
    std::string printer;
    std::string language = "hpgl2";
    std::string paper;
    bool landscape = false;
    bool follow = false;
    bool once = false;
};

// The queue file send --queue uses without a QUEUEFILE.
std::string DefaultQueueFile()
{
    unsigned char flag = 0;
    char volume[kDriveInfoTextSize] = {};
    char text[kDriveInfoTextSize] = {};
    cc_get_driveinfo(nullptr, &flag, volume, text);
    return flag != 0 && text[0] != '\0' ? std::string(text) : std::string(kDefaultQueueFile);
}

// SIGTERM, SIGINT and SIGHUP ask for a stop; the submission in hand is finished first. Not
// restarted, so a wait ends at once. A scheduler that goes away in the middle of a request
// is a failed hand-over to retry, not a reason to die of SIGPIPE.
void CatchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// The spooler draws PDF pages for as long as it runs; the drawing caches go when it ends, so
// that a leak checker (the sanitizer build) sees nothing held at exit.
struct ReleaseCachesAtEnd
{
    ~ReleaseCachesAtEnd()
    {
        render::ReleaseDrawingCaches();
    }
};

void RunSpool(const SpoolCommandOptions& options)
{
    const ReleaseCachesAtEnd release;
    spool::SpoolOptions settings;
    const std::string host = options.queueFile.empty() ? DefaultQueueFile() : options.queueFile;
    settings.queueFile = spool::NativeQueuePath(host);
    settings.queueDirectory = spool::QueueDirectory();
    if (settings.queueFile.empty() || settings.queueDirectory.empty())
        Fail(kCommand, "cannot tell where drive C: lies (set GENPLOT_DRIVE_C)");
    settings.printer = options.printer;
    if (!spool::ParsePrintLanguage(options.language, &settings.language))
        Fail(kCommand, "unknown language " + options.language, kExitUsage);
    if (!options.paper.empty() && !render::ParsePaper(options.paper, &settings.page.paperWidthMm,
                                                      &settings.page.paperHeightMm))
        Fail(kCommand, "unknown paper " + options.paper, kExitUsage);
    settings.page.landscape = options.landscape;
    settings.report = [](const std::string& line) {
        std::cerr << "genplot spool: " << line << std::endl;
    };

    spool::Spooler spooler(settings);
    std::string error;
    if (!spooler.Open(error))
        Fail(kCommand, error);
    CatchStopSignals();
    if (options.follow)
    {
        if (!spooler.Follow(&stopRequested, error))
            Fail(kCommand, error);
        return;
    }
    switch (spooler.RunPass(&stopRequested))
    {
    case spool::PassOutcome::Drained:
        break;
    case spool::PassOutcome::Stopped:
        Fail(kCommand, "stopped; the rest stays queued", kExitInterrupted);
    case spool::PassOutcome::DestinationFailed:
        Fail(kCommand, spooler.Problem() + "; the rest stays queued", kExitPending);
    case spool::PassOutcome::Failed:
        Fail(kCommand, spooler.Problem());
    }
    if (spooler.RejectedCount() > 0)
        Fail(kCommand,
             std::to_string(spooler.RejectedCount()) + " submission(s) set aside in " +
                 spool::RejectedDirectory(settings.queueFile),
             kExitRejected);
}

} // namespace

void AddSpoolCommand(CLI::App& app)
{
    auto options = std::make_shared<SpoolCommandOptions>();
    CLI::App* command = app.add_subcommand(
        "spool", "Print the submissions of a plotter queue file through a CUPS destination");
    command->add_option("QUEUEFILE", options->queueFile,
                        "Queue file (default: the one send --queue uses without a QUEUEFILE)");
    command->add_option("--printer", options->printer, "CUPS destination (see lpstat -p)")
        ->required();
    command
        ->add_option("--language", options->language,
                     "What the destination is sent: hpgl2 or hpgl (raw, for a plotter) or pdf")
        ->check(CLI::IsMember({"hpgl2", "hpgl", "pdf"}))
        ->capture_default_str();
    command->add_option("--paper", options->paper,
                        "PDF page: A0-A4, letter, ledger or WIDTHxHEIGHTmm (default: the plot's "
                        "own box)");
    command->add_flag("--landscape", options->landscape, "Turn the PDF paper to landscape");
    auto* once = command->add_flag("--once", options->once,
                                   "Print what is queued now, then exit (the default)");
    auto* follow = command->add_flag("--follow", options->follow,
                                     "Keep serving the queue until SIGTERM or Ctrl-C");
    once->excludes(follow);
    command->footer(
        "Progress is kept in QUEUEFILE.journal, so a restart neither loses nor repeats a plot. "
        "Damaged plots are moved to rejected/ beside the queue file.\nExit status: 0 all "
        "printed, 1 cannot go on, 2 some set aside, 3 the destination failed (the rest stays "
        "queued), 130 stopped.");
    command->callback([options] { RunSpool(*options); });
}

} // namespace genplot::tool
