#include "tools/genplot/terminal_progress.h"

#include "tools/genplot/termination.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace genplot::tool
{
namespace
{

constexpr int kBarWidth = 40;

bool StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace

ProgressDisplay ParseProgressDisplay(const std::string& text)
{
    if (text == "always")
        return ProgressDisplay::Always;
    if (text == "never")
        return ProgressDisplay::Never;
    return ProgressDisplay::Auto;
}

TerminalProgress::TerminalProgress(std::string label, ProgressDisplay display)
    : label_(std::move(label)), draw_(display == ProgressDisplay::Always ||
                                      (display == ProgressDisplay::Auto && StderrIsTerminal()))
{
    window_ = CreateProcedureWindow(&TerminalProgress::Procedure, this);
    if (window_ == nullptr)
        throw std::bad_alloc();
    control_.m_hWnd = window_;
}

TerminalProgress::~TerminalProgress()
{
    Finish();
    DestroyWindow(window_);
}

void TerminalProgress::Finish()
{
    if (drawn_)
    {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        SetProgressLineOpen(false);
        drawn_ = false;
        lastPercent_ = -1;
    }
}

LRESULT TerminalProgress::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<TerminalProgress*>(GetWindowUserData(window));
    return self != nullptr ? self->Handle(message, wParam, lParam) : 0;
}

LRESULT TerminalProgress::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETRANGE)
    {
        const LRESULT previous = static_cast<LRESULT>(
            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(upper_)) << 16) |
            static_cast<std::uint16_t>(lower_));
        const auto packed = static_cast<std::uint32_t>(lParam);
        lower_ = static_cast<std::int16_t>(packed & 0xFFFF);
        upper_ = static_cast<std::int16_t>(packed >> 16);
        Draw();
        return previous;
    }
    if (message == PBM_SETPOS)
    {
        const int previous = position_;
        position_ = static_cast<int>(wParam);
        Draw();
        // The bar moves from inside the library's work: the moment to hand an interrupt to
        // the message pump, which gives it back to this window right away.
        if (Interrupted() && cancelFlag_ != nullptr && !cancelPosted_)
            cancelPosted_ = PostMessageA(window_, kCancelMessage, 0, 0) != FALSE;
        return previous;
    }
    if (message == kCancelMessage)
    {
        if (cancelFlag_ != nullptr)
            *cancelFlag_ = 1;
        return 0;
    }
    return 0;
}

void TerminalProgress::Draw()
{
    if (!draw_)
        return;
    const long span = static_cast<long>(upper_) - lower_;
    long percent = span > 0 ? (static_cast<long>(position_) - lower_) * 100 / span : 0;
    percent = std::clamp(percent, 0L, 100L);
    if (percent == lastPercent_)
        return;
    lastPercent_ = static_cast<int>(percent);
    char bar[kBarWidth + 1];
    const long filled = percent * kBarWidth / 100;
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3ld%%", label_.c_str(), bar, percent);
    std::fflush(stderr);
    SetProgressLineOpen(true);
    drawn_ = true;
}

} // namespace genplot::tool
