// genplot check FILE: asks the library whether FILE is a generic plot file.

#include "genplot/plot_dispatch.h"
#include "genplot/plot_queue_access.h"
#include "platform/cstring.h"
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "check";

struct CheckOptions
{
    std::string file;
    bool quiet = false;
};

// 0 when the file at `path` (host notation) is there to be looked at, else the errno value.
int Reachable(const CString& path)
{
    CString native;
    if (GetNativePath(path, native) == 0)
        return ENAMETOOLONG;
    struct stat info;
    return stat(native.GetString(), &info) == 0 ? 0 : errno;
}

void RunCheck(const CheckOptions& options)
{
    CString path(options.file.c_str());
    const bool valid = IsGenericPlotFile(path) == 1;
    if (!valid)
    {
        // A file that is not there is an error, not an answer about its contents.
        const int error = Reachable(path);
        if (error != 0)
        {
            if (options.quiet)
                throw CLI::RuntimeError(1);
            Fail(kCommand, options.file + ": cannot open: " + ErrorText(error));
        }
    }
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
    command->footer("Looks at the header record only: a cancelled write still passes (send "
                    "refuses it). A named pipe or a device is not a plot file.\n"
                    "Exit status: 0 a generic plot file, 1 not one, or it cannot be opened (one "
                    "line on stderr says so).");
    command->callback([options] { RunCheck(*options); });
}

} // namespace genplot::tool
