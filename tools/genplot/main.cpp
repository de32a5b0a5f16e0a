// The genplot program: one subcommand per job, each registered by its own source file.

#include "platform/exception.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <new>
#include <string>

int main(int argc, char** argv)
{
    namespace tool = genplot::tool;
    CLI::App app{"genplot converts HP-GL plotter files into generic plot files, and checks, "
                 "inspects, renders and sends plot files.",
                 "genplot"};
    app.set_version_flag("--version", std::string("genplot ") + GENPLOT_VERSION);
    app.require_subcommand(1);
    app.footer("Run genplot COMMAND --help for a command's options. Exit status 64: the command "
               "line is wrong.");

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

    try
    {
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
        std::cerr << "genplot: " << error.what() << " (see genplot --help)" << std::endl;
        return tool::kExitUsage;
    }
    catch (CException* error)
    {
        // The library's only exception is the memory exception.
        error->Delete();
        std::cerr << "genplot: out of memory" << std::endl;
    }
    catch (const std::bad_alloc&)
    {
        std::cerr << "genplot: out of memory" << std::endl;
    }
    catch (const std::exception& error)
    {
        std::cerr << "genplot: " << error.what() << std::endl;
    }
    return 1;
}
