// genplot queue [QUEUEFILE]: lists the submissions in a plotter queue file, one line each.

#include "genplot/plot_queue_access.h"
#include "platform/cstring.h"
#if defined(GENPLOT_WITH_SPOOL)
#include "spool/spool_files.h"
#include "spool/spool_journal.h"
#endif
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "queue";

struct QueueOptions
{
    std::string queueFile;
};

// A fixed field of a record as printable text: up to its NUL, within its width.
std::string Field(const char* field, std::size_t width)
{
    std::string text;
    for (std::size_t i = 0; i < width && field[i] != '\0'; ++i)
    {
        const auto c = static_cast<unsigned char>(field[i]);
        text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}

// What the listing gathers: the lines, and the spooler's journal beside the queue file when
// there is one (a queue no spooler has served lists as it always did).
struct Listing
{
    std::string lines;
#if defined(GENPLOT_WITH_SPOOL)
    spool::SpoolJournal journal;
#endif
};

void AddLine(const tag_ti_namelist_both& record, std::size_t number, void* context)
{
    Listing& listing = *static_cast<Listing*>(context);
    listing.lines += std::to_string(number) + "  " +
                     Field(record.fileName, sizeof record.fileName) + "  " +
                     Field(record.baseName, sizeof record.baseName) + "  media " +
                     std::to_string(record.mediaKind) + "  copies " + std::to_string(record.copies);
#if defined(GENPLOT_WITH_SPOOL)
    if (listing.journal.Found())
        listing.lines += "  " + spool::DescribeState(listing.journal.State(number));
#endif
    listing.lines += "\n";
}

// What a file that could not be listed is (or is not), in a few words.
std::string Problem(const CPlotQueueReport& report)
{
    switch (report.state)
    {
    case kPlotQueueCannotOpen:
        return "cannot open: " + ErrorText(report.systemError);
    case kPlotQueueNotRegular:
        return "not a queue file: not a regular file";
    case kPlotQueuePartialRecord:
        return "not a queue file: " + std::to_string(report.size) +
               " bytes is not a whole number of 134-byte records";
    case kPlotQueueNotRecords:
        return "not a queue file: record " + std::to_string(report.badRecord) +
               " is not a submission";
    default:
        return "cannot read: " + ErrorText(report.systemError);
    }
}

void RunQueue(const QueueOptions& options)
{
    CString host(options.queueFile.c_str());
    if (options.queueFile.empty())
        ChoosePlotQueueFile(CString(), host);
    CString native;
    std::string named = host.GetString();
    if (GetNativePath(host, native) == 0)
        Fail(kCommand, named + ": cannot tell where it lies (set GENPLOT_DRIVE_" +
                           std::string(1, static_cast<char>(named[0] & ~0x20)) + ")");
    if (native != host)
        named += std::string(" (") + native.GetString() + ")";

    Listing listing;
#if defined(GENPLOT_WITH_SPOOL)
    std::string journalError;
    if (!listing.journal.Load(spool::JournalPath(native.GetString()), journalError))
        Fail(kCommand, journalError);
#endif
    CPlotQueueReport report;
    if (ReadPlotQueue(host, AddLine, &listing, &report) != kPlotQueueRead)
        Fail(kCommand, named + ": " + Problem(report));
    std::cout << host.GetString() << ": " << report.recordCount
              << (report.recordCount == 1 ? " submission" : " submissions") << '\n'
              << listing.lines << std::flush;
}

} // namespace

void AddQueueCommand(CLI::App& app)
{
    auto options = std::make_shared<QueueOptions>();
    CLI::App* command = app.add_subcommand("queue", "List the submissions in a plotter queue file");
    command->add_option("QUEUEFILE", options->queueFile,
                        "Queue file (default: the one send --queue uses without a QUEUEFILE: "
                        "GENPLOT_QUEUE_FILE when GENPLOT_QUEUE_FLAG is set, else "
                        "C:\\plotque.que; a drive-letter path maps to the drive's folder)");
    command->footer("Prints one line per submission: number, file name in the queue directory, "
                    "plot name, media kind and copies. A file that is not a queue file is "
                    "refused in one line, before anything is listed.\n"
                    "Exit status: 0 listed, 1 unreadable or not a queue file.");
    command->callback([options] { RunQueue(*options); });
}

} // namespace genplot::tool
