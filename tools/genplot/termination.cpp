#include "tools/genplot/termination.h"

#include "tools/genplot/terminal_progress.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

namespace genplot::tool
{
namespace
{

// Everything the handler reads is prepared here beforehand, in fixed buffers: the handler
// cannot allocate, format or lock.
constexpr std::size_t kTextSize = 8192;

volatile std::sig_atomic_t interruptFlag = 0;
volatile std::sig_atomic_t cancellable = 0;
volatile std::sig_atomic_t progressLineOpen = 0;
volatile std::sig_atomic_t temporaryReady = 0;
char temporaryPath[kTextSize];
char commandName[64] = "";
// The line for an interrupt: "genplot COMMAND: interrupted[; TARGET was not written]\n".
char message[kTextSize];
volatile std::sig_atomic_t messageLength = 0;
bool installed = false;

const int kSignals[] = {
    SIGINT, SIGTERM,
#if !defined(_WIN32)
    SIGHUP, SIGQUIT, SIGPIPE,
#endif
};

void Copy(char* into, std::size_t size, const std::string& text)
{
    const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(into, text.data(), length);
    into[length] = '\0';
}

void PrepareMessage(const std::string& target)
{
    std::string line = "genplot ";
    line += commandName[0] != '\0' ? commandName : "";
    line += commandName[0] != '\0' ? ": interrupted" : "interrupted";
    if (!target.empty())
        line += "; " + target + " was not written";
    line += '\n';
    messageLength = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    Copy(message, sizeof message, line);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    messageLength = static_cast<std::sig_atomic_t>(std::strlen(message));
}

void WriteError(const char* text, std::size_t length)
{
#if defined(_WIN32)
    _write(2, text, static_cast<unsigned>(length));
#else
    while (length > 0)
    {
        const ssize_t done = write(STDERR_FILENO, text, length);
        if (done <= 0)
            return;
        text += done;
        length -= static_cast<std::size_t>(done);
    }
#endif
}

// Removes the temporary file, says so once, and ends the process.
[[noreturn]] void EndNow(int signal)
{
    if (temporaryReady)
    {
        temporaryReady = 0;
#if defined(_WIN32)
        _unlink(temporaryPath);
#else
        unlink(temporaryPath);
#endif
    }
    bool quiet = false;
#if !defined(_WIN32)
    // A broken pipe usually means nobody reads stderr either, and a hang-up has no terminal.
    quiet = signal == SIGPIPE || signal == SIGHUP;
#endif
    if (!quiet && messageLength > 0)
    {
        if (progressLineOpen)
            WriteError("\n", 1);
        WriteError(message, static_cast<std::size_t>(messageLength));
    }
    if (signal == SIGINT
#if !defined(_WIN32)
        || signal == SIGALRM
#endif
    )
        _exit(130);
    // Die of the signal itself, so that the parent sees what ended the program. The signal is
    // blocked while its handler runs: unblocking it delivers the one raised here.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
#if !defined(_WIN32)
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
#endif
    _exit(128 + signal);
}

extern "C" void OnTerminationSignal(int signal)
{
    if (signal == SIGINT && cancellable && !interruptFlag)
    {
        interruptFlag = 1;
#if defined(_WIN32)
        std::signal(SIGINT, OnTerminationSignal); // the handler is reset on every call there
#else
        // The write notices the flag at its next message pump; should it not end the program
        // within a second (a stage that pumps no messages), the alarm does.
        alarm(1);
#endif
        return;
    }
    interruptFlag = 1;
    EndNow(signal);
}

void Install(int signal)
{
#if defined(_WIN32)
    std::signal(signal, OnTerminationSignal);
#else
    struct sigaction old = {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN && signal != SIGALRM)
        return; // ignored by whoever started the program (nohup, a pipeline): stay so
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    // No other signal's handler may run halfway through this one.
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
#endif
}

} // namespace

void InstallTerminationHandlers()
{
    if (installed)
        return;
    installed = true;
    if (messageLength == 0)
        PrepareMessage("");
    for (int signal : kSignals)
        Install(signal);
#if !defined(_WIN32)
    Install(SIGALRM);
#endif
}

void SetTerminationCommand(const std::string& command)
{
    Copy(commandName, sizeof commandName, command);
    PrepareMessage("");
}

void SetTemporaryOutput(const std::string& temporary, const std::string& target)
{
    // The flag goes down before the path changes and up only after, so the handler never
    // reads a half-written path.
    temporaryReady = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    PrepareMessage(target);
    if (temporary.empty())
        return;
    Copy(temporaryPath, sizeof temporaryPath, temporary);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    temporaryReady = temporary.size() < sizeof temporaryPath ? 1 : 0;
}

void SetProgressLineOpen(bool open)
{
    progressLineOpen = open ? 1 : 0;
}

CancellableStage::CancellableStage()
{
    cancellable = 1;
}

CancellableStage::~CancellableStage()
{
    cancellable = 0;
#if !defined(_WIN32)
    // The stage is over; whoever created it looks at the flag now.
    alarm(0);
#endif
}

void InstallInterruptHandler()
{
    InstallTerminationHandlers();
}

const volatile std::sig_atomic_t* InterruptFlag()
{
    return &interruptFlag;
}

bool Interrupted()
{
    return interruptFlag != 0;
}

} // namespace genplot::tool
