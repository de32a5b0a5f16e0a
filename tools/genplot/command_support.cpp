#include "tools/genplot/command_support.h"

#include "genplot/plot_file_reader.h"

#include <CLI/CLI.hpp>
#include <cstring>
#include <fstream>
#include <iostream>

namespace genplot::tool
{
namespace
{

constexpr const char* kNotAPlotFile = "not a generic plot file";

// True when the file starts the way HP-GL drawings do: an escape sequence (PCL, PJL or a
// plotter escape) or a two-letter mnemonic such as IN; or SP1.
bool LooksLikeHpgl(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char start[64] = {};
    in.read(start, sizeof start);
    const std::streamsize got = in.gcount();
    std::streamsize i = 0;
    while (i < got && (start[i] == ' ' || start[i] == '\r' || start[i] == '\n' || start[i] == '\t'))
        ++i;
    if (i < got && (start[i] == '\x1B' || start[i] == '@'))
        return true;
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    return i + 2 < got && upper(start[i]) && upper(start[i + 1]) &&
           (start[i + 2] == ';' || start[i + 2] == ',' || start[i + 2] == '-' ||
            start[i + 2] == ' ' || (start[i + 2] >= '0' && start[i + 2] <= '9') ||
            upper(start[i + 2]));
}

} // namespace

std::string MessageLine(const std::string& command, const std::string& message)
{
    // Messages come from files and the library; keep them on one line whatever they hold.
    std::string line = "genplot " + command + ": " + message;
    for (char& c : line)
    {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return line;
}

void Fail(const std::string& command, const std::string& message, int exitCode)
{
    std::cerr << MessageLine(command, message) << std::endl;
    throw CLI::RuntimeError(exitCode);
}

void FailUsage(const std::string& command, const std::string& message)
{
    Fail(command, message + " (see genplot " + command + " --help)", kExitUsage);
}

std::string PlotProblem(const std::string& path, const PlotFile& plot)
{
    if (plot.status == PlotFileStatus::Unreadable)
        return plot.problem;
    if (plot.problemOffset == 0 && plot.problem.rfind(kNotAPlotFile, 0) == 0)
    {
        return path + ": " + plot.problem +
               (LooksLikeHpgl(path) ? " (an HP-GL drawing? try genplot convert)" : "");
    }
    return path + ": " + std::to_string(plot.problemOffset) + ": " + plot.problem;
}

int PlotExitStatus(const PlotFile& plot)
{
    switch (plot.status)
    {
    case PlotFileStatus::Valid:
        return 0;
    case PlotFileStatus::Cancelled:
        return kExitCancelledPlot;
    case PlotFileStatus::Unreadable:
        return kExitUnreadablePlot;
    case PlotFileStatus::Invalid:
        break;
    }
    return kExitInvalidPlot;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

} // namespace genplot::tool
