// genplot check FILE: asks the library whether FILE is a generic plot file.

#include "genplot/plot_dispatch.h"
#include "platform/cstring.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

struct CheckOptions
{
    std::string file;
    bool quiet = false;
};

void RunCheck(const CheckOptions& options)
{
    CString path(options.file.c_str());
    const bool valid = IsGenericPlotFile(path) == 1;
    if (!options.quiet)
        std::cout << options.file << (valid ? ": generic plot file" : ": not a generic plot file")
                  << std::endl;
    if (!valid)
        throw CLI::RuntimeError(1);
}

} // namespace

void AddCheckCommand(CLI::App& app)
{
    auto options = std::make_shared<CheckOptions>();
    CLI::App* command =
        app.add_subcommand("check", "Tell whether a file is a generic plot file (header check)");
    command
        ->add_option("FILE", options->file,
                     "File to check (a drive-letter path maps to the "
                     "drive's folder)")
        ->required();
    command->add_flag("-q,--quiet", options->quiet, "Print nothing; answer by the exit status");
    command->footer("Exit status: 0 a generic plot file, 1 not one (or unreadable).");
    command->callback([options] { RunCheck(*options); });
}

} // namespace genplot::tool
