#pragma once

#include <string>

// How a signal ends the program. SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE (each unless it
// was ignored when the program started, as under nohup) remove the temporary output file, if
// one is being written, print the subcommand's line and end the program: exit status 130 for
// Ctrl-C, death by the same signal for the others, as shells expect. Only async-signal-safe
// calls run in the handler, on data prepared beforehand.
//
// The one exception is the first Ctrl-C while a cancellable stage runs (the plot write, which
// pumps messages): it only sets the interrupt flag, and the write is cancelled as a host's
// cancel button would cancel it. Should the program not have ended a second later, or should
// Ctrl-C come again, it ends as above.

namespace genplot::tool
{

/// Installs the handlers (once; later calls change nothing).
void InstallTerminationHandlers();

/// Names the subcommand for the line the handler prints ("genplot COMMAND: interrupted").
void SetTerminationCommand(const std::string& command);

/// The temporary file to remove when a signal ends the program, and the output it stands for
/// (named in the line printed); one at a time. Call with empty strings to clear it.
void SetTemporaryOutput(const std::string& temporary, const std::string& target);

/// Tells the handler that a line of the progress bar is open on stderr, so that its own line
/// starts on a new one.
void SetProgressLineOpen(bool open);

/// While one exists, a first Ctrl-C only sets the interrupt flag (see above).
class CancellableStage
{
  public:
    CancellableStage();
    ~CancellableStage();
    CancellableStage(const CancellableStage&) = delete;
    CancellableStage& operator=(const CancellableStage&) = delete;
};

} // namespace genplot::tool
