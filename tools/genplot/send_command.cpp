// genplot send FILE --to DEST | --queue [QUEUEFILE]: delivers a plot file through the
// library's SendGenericPlot, with a progress bar, and prints the library's message.

#include "genplot/plot_dispatch.h"
#include "platform/cstring.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/terminal_progress.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "send";
constexpr const char* kNoError = "no error.";

struct SendOptions
{
    std::string file;
    std::string to;
    std::string queueFile;
    std::string progress = "auto";
    CLI::Option* toOption = nullptr;
    CLI::Option* queueOption = nullptr;
};

void RunSend(const SendOptions& options)
{
    const bool toQueue = options.queueOption->count() > 0;
    if (!toQueue && options.toOption->count() == 0)
        Fail(kCommand, "say where to: --to DEST or --queue [QUEUEFILE]", kExitUsage);
    if (toQueue && !options.queueFile.empty())
    {
        // The library takes an explicit queue file only when the drive information says so;
        // a queue file named on the command line is that explicit choice.
#if defined(_WIN32)
        _putenv_s("GENPLOT_QUEUE_FLAG", "1");
#else
        setenv("GENPLOT_QUEUE_FLAG", "1", 1);
#endif
    }

    CString input(options.file.c_str());
    CString destination(toQueue ? options.queueFile.c_str() : options.to.c_str());
    CString message;
    int sent = 0;
    {
        TerminalProgress progress("sending", ParseProgressDisplay(options.progress));
        sent = SendGenericPlot(input, destination, message, progress.Control(), toQueue ? 1 : 0);
    }
    if (sent == 1 && message == kNoError)
    {
        std::cout << message.GetString() << std::endl;
        return;
    }
    Fail(kCommand,
         options.file + ": " + (message.IsEmpty() ? "not delivered" : message.GetString()));
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
    command->footer("Prints the library's message. Exit status: 0 only for \"no error.\", "
                    "1 otherwise.");
    command->callback([options] { RunSend(*options); });
}

} // namespace genplot::tool
