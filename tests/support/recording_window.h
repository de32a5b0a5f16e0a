#pragma once

#include "platform/progress_ctrl.h"
#include "platform/window.h"

#include <functional>
#include <utility>
#include <vector>

/// One message as a RecordingWindow received it.
struct RecordedMessage
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

/// A live window that records every message it receives, sent or dispatched, in arrival
/// order. It answers PBM_SETPOS and PBM_SETRANGE as a progress bar does (the previous position,
/// the previous range packed low word first), so it stands in for the host's progress bar.
class RecordingWindow
{
  public:
    RecordingWindow();
    /// Destroys the window, dropping its queued messages.
    ~RecordingWindow();
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    HWND handle() const
    {
        return window_;
    }
    /// A progress control on this window; owned by the recording window.
    CProgressCtrl* progress()
    {
        return &progress_;
    }
    const std::vector<RecordedMessage>& messages() const
    {
        return messages_;
    }
    /// Every position set with PBM_SETPOS, in order.
    std::vector<long> Positions() const;
    /// Every range set with PBM_SETRANGE as (lower, upper), in order.
    std::vector<std::pair<int, int>> Ranges() const;
    /// Runs `callback` after each message is recorded (for instance to set a cancel flag when
    /// the pump dispatches a posted message). Replaces an earlier callback; empty clears it.
    void OnMessage(std::function<void(const RecordedMessage&)> callback);
    void ClearMessages()
    {
        messages_.clear();
    }

  private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_;
    CProgressCtrl progress_;
    std::vector<RecordedMessage> messages_;
    std::function<void(const RecordedMessage&)> callback_;
    int position_ = 0;
    LPARAM range_ = static_cast<LPARAM>(100) << 16;
};
