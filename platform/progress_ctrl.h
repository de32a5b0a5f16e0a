#pragma once

#include "platform/export.h"
#include "platform/win_types.h"

/// A progress-bar control: a handle to a window whose range and position are set by sending
/// it PBM_SETRANGE and PBM_SETPOS. The control does not own the window.
class GENPLOT_API CProgressCtrl
{
  public:
    CProgressCtrl() = default;
    explicit CProgressCtrl(HWND window) : m_hWnd(window)
    {
    }

    /// Sends PBM_SETRANGE with the range packed as (upper << 16) | lower.
    void SetRange(short lower, short upper);
    /// Sends PBM_SETPOS; returns the previous position as the window reports it.
    int SetPos(int position);

    HWND m_hWnd = nullptr;
};
