#pragma once

#include <string>

// The program's conventions for what it says and how it ends, shared by every subcommand:
//
//   genplot COMMAND: FILE: what is wrong with it
//
// One line on stderr, naming the subcommand and the file the message is about; exit status 64
// when the command line is wrong (with a pointer at the subcommand's --help), 1 when a run
// fails, and the statuses each subcommand documents beyond those.

namespace genplot
{
struct PlotFile;
}

namespace genplot::tool
{

/// Exit status for a failed run.
inline constexpr int kExitFailed = 1;
/// Exit status for a wrong command line (sysexits' EX_USAGE; 1 to 4 mean results).
inline constexpr int kExitUsage = 64;
/// Exit status after an interrupt (128 + SIGINT, as shells report it).
inline constexpr int kExitInterrupted = 130;

/// Exit statuses of the subcommands that read plot files (verify, dump, render).
inline constexpr int kExitInvalidPlot = 1;
inline constexpr int kExitCancelledPlot = 2;
inline constexpr int kExitUnreadablePlot = 3;

/// "genplot COMMAND: MESSAGE", kept on one line whatever the message holds.
std::string MessageLine(const std::string& command, const std::string& message);

/// Prints MessageLine on stderr and ends the subcommand with `exitCode` (thrown as
/// CLI::RuntimeError, which main turns into the exit status).
[[noreturn]] void Fail(const std::string& command, const std::string& message,
                       int exitCode = kExitFailed);

/// A wrong command line: "genplot COMMAND: MESSAGE (see genplot COMMAND --help)", exit 64.
[[noreturn]] void FailUsage(const std::string& command, const std::string& message);

/// "PATH: OFFSET: problem" for a plot file the reader did not pass as sound (for one that is
/// unreadable, the reader's problem, which names the path). A file that is no plot file at all
/// is said so without an offset, with a hint when it looks like an HP-GL drawing.
std::string PlotProblem(const std::string& path, const PlotFile& plot);

/// The exit status for a plot file the reader did not pass as sound.
int PlotExitStatus(const PlotFile& plot);

/// The text of errno `error`.
std::string ErrorText(int error);

} // namespace genplot::tool
