#pragma once

#include "platform/export.h"
#include "platform/win_types.h"

// Windows and the thread's message queue. On POSIX a window is a small object with a window
// procedure; SendMessageA calls it directly, PostMessageA queues a message on the calling
// thread's queue, and the pump (PeekMessageA ... DispatchMessageA) takes from that queue.

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    LONG ptX;
    LONG ptY;
};
typedef MSG* LPMSG;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT PBM_SETRANGE = WM_USER + 1; // 1025; range packed as MAKELPARAM(low, high)
inline constexpr UINT PBM_SETPOS = WM_USER + 2;   // 1026; position in wParam

/// Creates a window whose messages go to `procedure`; `userData` is kept for the procedure
/// (see GetWindowUserData). The caller destroys it with DestroyWindow.
GENPLOT_API HWND CreateProcedureWindow(WNDPROC procedure, void* userData);
/// Destroys the window and drops its queued messages.
GENPLOT_API BOOL DestroyWindow(HWND window);
GENPLOT_API void* GetWindowUserData(HWND window);

GENPLOT_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
GENPLOT_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
GENPLOT_API BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax,
                              UINT removeFlags);
GENPLOT_API BOOL IsDialogMessageA(HWND dialog, LPMSG message);
GENPLOT_API BOOL TranslateMessage(const MSG* message);
GENPLOT_API LRESULT DispatchMessageA(const MSG* message);
