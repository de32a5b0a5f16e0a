#pragma once

#include <string>

// Shared by the convert, check, send and queue subcommands.

namespace genplot::tool
{

/// Exit status for a wrong command line (sysexits' EX_USAGE; 1 to 4 mean results).
inline constexpr int kExitUsage = 64;
/// Exit status after an interrupt (128 + SIGINT, as shells report it).
inline constexpr int kExitInterrupted = 130;

/// Prints "genplot COMMAND: MESSAGE" as one line on stderr and ends the subcommand with
/// `exitCode` (thrown as CLI::RuntimeError, which main turns into the exit status).
[[noreturn]] void Fail(const char* command, const std::string& message, int exitCode = 1);

/// The text of errno `error`.
std::string ErrorText(int error);

} // namespace genplot::tool
