// genplot send FILE --to DEST | --queue [QUEUEFILE]: delivers a plot file through the
// library's DeliverGenericPlot, with a progress bar, and says where the plot went.

#include "genplot/plot_dispatch.h"
#include "genplot/plot_queue_access.h"
#include "platform/cstring.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/terminal_progress.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "send";

struct SendOptions
{
    std::string file;
    std::string to;
    std::string queueFile;
    std::string progress = "auto";
    CLI::Option* toOption = nullptr;
    CLI::Option* queueOption = nullptr;
};

// A host path, with where it lies on this system when that is somewhere else.
std::string WithNativePath(const char* hostPath)
{
    CString native;
    if (GetNativePath(CString(hostPath), native) == 1 && native != hostPath)
        return std::string(hostPath) + " (" + native.GetString() + ")";
    return hostPath;
}

// Why the queue did not take the plot, for the errno values the queue client gives.
std::string QueueReason(int error)
{
    switch (error)
    {
    case EINVAL:
        return "not a regular file";
    case EILSEQ:
        return "not a queue file (not a whole number of 134-byte records)";
    case EEXIST:
        return "it is the plot being sent";
    default:
        return ErrorText(error);
    }
}

// The one line for a delivery that failed: the file it is about, the library's message and,
// where a system call failed, why.
std::string FailureLine(const SendOptions& options, const CPlotDelivery& delivery,
                        const CString& message)
{
    std::string text = message.IsEmpty() ? "not delivered" : message.GetString();
    std::string about = options.file;
    std::string reason = delivery.systemError != 0 ? ErrorText(delivery.systemError) : "";
    switch (delivery.messageId)
    {
    case 201: // the destination, or the unique file in the queue directory
        about =
            options.toOption->count() > 0 ? options.to : WithNativePath(GetPlotQueueDirectory());
        break;
    case 203: // the copy: where it was going
        about =
            options.toOption->count() > 0 ? options.to : WithNativePath(GetPlotQueueDirectory());
        if (delivery.systemError == EAGAIN)
        {
            about = options.file;
            reason = "the file changed while it was copied";
        }
        break;
    case 204:
        about = WithNativePath(delivery.target.GetString());
        reason = delivery.systemError != 0 ? QueueReason(delivery.systemError) : "";
        if (!delivery.spooledName.IsEmpty())
            reason += std::string(reason.empty() ? "" : "; ") +
                      "the copy stays in the queue "
                      "directory as " +
                      delivery.spooledName.GetString();
        break;
    default:
        break;
    }
    if (!reason.empty() && !text.empty() && text.back() == '.')
        text.pop_back();
    return about + ": " + text + (reason.empty() ? "" : ": " + reason);
}

void RunSend(const SendOptions& options)
{
    const bool toQueue = options.queueOption->count() > 0;
    if (!toQueue && options.toOption->count() == 0)
        Fail(kCommand, "say where to: --to DEST or --queue [QUEUEFILE]", kExitUsage);

    // A queue file named on the command line is used as it is; without one, the library
    // chooses as for a host that names none.
    CString input(options.file.c_str());
    CString target(toQueue ? options.queueFile.c_str() : options.to.c_str());
    const int mode = !toQueue ? kDeliverToPath : kDeliverToQueueFile;
    CString message;
    CPlotDelivery delivery;
    int sent = 0;
    {
        TerminalProgress progress("sending", ParseProgressDisplay(options.progress));
        sent = DeliverGenericPlot(input, target, mode, message, progress.Control(), &delivery);
    }
    if (sent != 1)
        Fail(kCommand, FailureLine(options, delivery, message));
    std::cout << message.GetString() << '\n';
    if (toQueue)
        std::cout << options.file << ": submitted to "
                  << WithNativePath(delivery.target.GetString()) << " as "
                  << delivery.spooledName.GetString() << " in "
                  << WithNativePath(GetPlotQueueDirectory()) << '\n';
    else
        std::cout << options.file << ": copied to " << options.to << '\n';
    std::cout << std::flush;
}

} // namespace

void AddSendCommand(CLI::App& app)
{
    auto options = std::make_shared<SendOptions>();
    CLI::App* command = app.add_subcommand(
        "send",
        "Deliver a generic plot file: copy it to a path, or submit it to the plotter queue");
    command->add_option("FILE", options->file, "Plot file to send")->required();
    options->toOption = command->add_option("--to", options->to, "Copy the file to this path");
    options->queueOption =
        command
            ->add_option("--queue", options->queueFile,
                         "Copy the file into the plotter queue directory and submit it; "
                         "QUEUEFILE names the queue file (default: the library's choice, "
                         "GENPLOT_QUEUE_FILE or C:\\plotque.que)")
            ->expected(0, 1)
            ->type_name("[QUEUEFILE]");
    options->toOption->excludes(options->queueOption);
    command
        ->add_option("--progress", options->progress,
                     "Progress bar on stderr: auto (when it is a terminal), always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    command->footer(
        "Only a complete plot file is sent. Prints the library's message, then where the plot "
        "went: the destination, or the queue file and the copy's name in the queue directory. "
        "A destination file is replaced only by a complete copy.\n"
        "Exit status: 0 delivered, 1 not delivered (one line on stderr says why), 64 a wrong "
        "command line.");
    command->callback([options] { RunSend(*options); });
}

} // namespace genplot::tool
