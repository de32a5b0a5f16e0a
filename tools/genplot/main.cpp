// The genplot program: one subcommand per job, each registered by its own source file.

#include "platform/exception.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"
#include "tools/genplot/termination.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace
{

namespace tool = genplot::tool;

// Edits (insertions, deletions, substitutions, swaps of neighbours) from `a` to `b`.
std::size_t Distance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
    {
        for (std::size_t j = 1; j <= b.size(); ++j)
        {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::vector<std::string> SubcommandNames(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({}))
        names.push_back(command->get_name());
    return names;
}

// "unknown subcommand X", with the nearest name when one is close enough to be a slip.
[[noreturn]] void UnknownSubcommand(const CLI::App& app, const std::string& name)
{
    // The nearest name, when it is a slip of one or two edits away or the name starts it.
    std::string nearest;
    std::size_t best = 3;
    for (const std::string& known : SubcommandNames(app))
    {
        const std::size_t distance =
            !name.empty() && known.rfind(name, 0) == 0 ? 0 : Distance(name, known);
        if (distance < best)
        {
            best = distance;
            nearest = known;
        }
    }
    std::cerr << "genplot: unknown subcommand " << name
              << (nearest.empty() ? " (see genplot --help)" : " (did you mean " + nearest + "?)")
              << std::endl;
    throw CLI::RuntimeError(tool::kExitUsage);
}

// genplot help [SUBCOMMAND]: the same text as --help.
void AddHelpCommand(CLI::App& app)
{
    auto topic = std::make_shared<std::string>();
    CLI::App* help =
        app.add_subcommand("help", "Show the help of genplot or of one of its subcommands");
    help->add_option("SUBCOMMAND", *topic, "Subcommand to explain");
    help->callback([&app, topic] {
        if (topic->empty())
        {
            // app.help() would explain the subcommand being run, which is this one.
            std::cout << app.get_formatter()->make_help(&app, app.get_name(),
                                                        CLI::AppFormatMode::Normal);
            return;
        }
        for (const CLI::App* command : app.get_subcommands({}))
        {
            if (command->get_name() == *topic && *topic != "help")
            {
                std::cout << command->help(app.get_name());
                return;
            }
        }
        UnknownSubcommand(app, *topic);
    });
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"genplot converts HP-GL plotter files into generic plot files, and checks, "
                 "inspects, renders and sends plot files.",
                 "genplot"};
    app.set_version_flag("--version", std::string("genplot ") + GENPLOT_VERSION);
    app.require_subcommand(1);
    app.footer("Run genplot help COMMAND or genplot COMMAND --help for a command's options. "
               "Every failure is one line on stderr: genplot COMMAND: FILE: what is wrong. Exit "
               "status 64: the command line is wrong; 1: the run failed; each command documents "
               "its others.");

    tool::AddConvertCommand(app);
    tool::AddCheckCommand(app);
    tool::AddSendCommand(app);
    tool::AddQueueCommand(app);
    tool::AddDumpCommand(app);
    tool::AddVerifyCommand(app);
    tool::AddRenderCommand(app);
    tool::AddExportCommand(app);
#if defined(GENPLOT_WITH_SPOOL)
    tool::AddSpoolCommand(app);
#endif
    AddHelpCommand(app);

    // The subcommand the command line names, if any: errors and signals are reported in its
    // name.
    std::string command;
    if (argc > 1)
    {
        const std::vector<std::string> names = SubcommandNames(app);
        if (std::find(names.begin(), names.end(), argv[1]) != names.end())
            command = argv[1];
    }
    // A signal ends every subcommand cleanly: no temporary file is left behind.
    if (!command.empty())
        tool::SetTerminationCommand(command);
    tool::InstallTerminationHandlers();

    try
    {
        if (argc > 1 && command.empty() && argv[1][0] != '-')
            UnknownSubcommand(app, argv[1]);
        if (argc > 1 && command.empty() && app.get_option_no_throw(argv[1]) == nullptr)
        {
            std::cerr << "genplot: unknown option " << argv[1] << " (see genplot --help)"
                      << std::endl;
            return tool::kExitUsage;
        }
        app.parse(argc, argv);
        return 0;
    }
    catch (const CLI::Success& done)
    {
        // --help and --version.
        return app.exit(done);
    }
    catch (const CLI::RuntimeError& failure)
    {
        // A subcommand has printed its one line already.
        return failure.get_exit_code();
    }
    catch (const CLI::ParseError& error)
    {
        const std::string where = command.empty() || command == "help" ? "" : " " + command;
        std::cerr << "genplot" << where << ": " << error.what() << " (see genplot" << where
                  << " --help)" << std::endl;
        return tool::kExitUsage;
    }
    catch (CException* error)
    {
        // The library's only exception is the memory exception.
        error->Delete();
        std::cerr << "genplot" << (command.empty() ? "" : " " + command) << ": out of memory"
                  << std::endl;
    }
    catch (const std::bad_alloc&)
    {
        std::cerr << "genplot" << (command.empty() ? "" : " " + command) << ": out of memory"
                  << std::endl;
    }
    catch (const std::exception& error)
    {
        std::cerr << "genplot" << (command.empty() ? "" : " " + command) << ": " << error.what()
                  << std::endl;
    }
    return tool::kExitFailed;
}
