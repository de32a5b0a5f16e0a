#pragma once

#include "platform/progress_ctrl.h"
#include "platform/window.h"

#include <csignal>
#include <string>

// The program's progress bar: a window of the library's window layer whose procedure draws a
// bar on stderr, and the Ctrl-C path. During the write, the SIGINT handler only sets a flag
// (see termination.h); the window turns the flag into a posted message the next time the bar
// moves, and the library's message pump hands that message back to the window, which sets the
// host's cancel flag. So an interrupt cancels a write exactly as a cancel button would.

namespace genplot::tool
{

/// Posted to a progress window after an interrupt; dispatching it sets the cancel flag.
inline constexpr UINT kCancelMessage = WM_USER + 0x100;

enum class ProgressDisplay
{
    Auto,   ///< draw when stderr is a terminal
    Always, ///< draw even when stderr is a file or a pipe
    Never,
};

/// Parses "auto", "always" or "never".
ProgressDisplay ParseProgressDisplay(const std::string& text);

/// Installs the termination handlers (termination.h): a first Ctrl-C during the write only
/// sets the flag below; anything else ends the program at once, its temporary file removed.
void InstallInterruptHandler();
/// The flag the handler sets (non-zero after an interrupt).
const volatile std::sig_atomic_t* InterruptFlag();
bool Interrupted();

class TerminalProgress
{
  public:
    /// `label` leads the bar ("writing", "sending").
    TerminalProgress(std::string label, ProgressDisplay display);
    /// Destroys the window and ends the bar's line.
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    /// The control to hand to the library.
    CProgressCtrl* Control()
    {
        return &control_;
    }
    /// After an interrupt, the posted cancel message sets `*flag` to 1 when dispatched.
    void SetCancelFlag(int* flag)
    {
        cancelFlag_ = flag;
    }
    /// Ends the bar's line on stderr if anything was drawn.
    void Finish();

  private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Draw();

    std::string label_;
    bool draw_ = false;
    HWND window_ = nullptr;
    CProgressCtrl control_;
    int lower_ = 0;
    int upper_ = 100;
    int position_ = 0;
    int lastPercent_ = -1;
    bool drawn_ = false;
    int* cancelFlag_ = nullptr;
    bool cancelPosted_ = false;
};

} // namespace genplot::tool
