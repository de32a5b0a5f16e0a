#pragma once

#include "platform/export.h"
#include "platform/win_types.h"

#if defined(_WIN32)

// Windows: windows.h and commctrl.h declare the messages, the pump and PBM_SETRANGE/PBM_SETPOS;
// only the host-side helper below is ours. A procedure window is a message-only window of a
// class the library registers; its procedure forwards every message that arrives between
// CreateProcedureWindow and DestroyWindow to `procedure` (none of the system's own creation or
// destruction messages), so a procedure written for POSIX needs no DefWindowProc.
// @warning Unlike POSIX, a message posted from another thread goes to the queue of the thread
// that created the window, as Win32 always does.
#include <commctrl.h>

/// Creates a message-only window whose messages go to `procedure`; `userData` is kept for the
/// procedure (see GetWindowUserData). The caller destroys it with DestroyWindow, on the thread
/// that created it. Null when `procedure` is null or the window cannot be created.
GENPLOT_API HWND CreateProcedureWindow(WNDPROC procedure, void* userData);
/// The `userData` given at creation; null for a handle that is not a live procedure window.
GENPLOT_API void* GetWindowUserData(HWND window);

#else

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
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT PBM_SETRANGE = WM_USER + 1; // 1025; range packed as MAKELPARAM(low, high)
inline constexpr UINT PBM_SETPOS = WM_USER + 2;   // 1026; position in wParam

/// Creates a window whose messages go to `procedure`; `userData` is kept for the procedure
/// (see GetWindowUserData). The caller destroys it with DestroyWindow. Null when `procedure`
/// is null or memory runs out. Handles are never reused, so a stale handle stays invalid.
GENPLOT_API HWND CreateProcedureWindow(WNDPROC procedure, void* userData);
/// Destroys the window and drops its messages from the calling thread's queue; messages
/// already queued on other threads for it are discarded when those threads reach them.
/// FALSE when the handle is not a live window.
GENPLOT_API BOOL DestroyWindow(HWND window);
/// TRUE while `window` is a live window.
GENPLOT_API BOOL IsWindow(HWND window);
/// The `userData` given at creation; null for a handle that is not a live window.
GENPLOT_API void* GetWindowUserData(HWND window);

/// Calls the window's procedure at once, on the calling thread, and returns its result;
/// 0 without a call when the handle is not a live window.
GENPLOT_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Appends the message to the calling thread's queue. A null window posts a thread message,
/// which the pump returns but DispatchMessageA does not deliver. FALSE for a handle that is
/// neither null nor a live window.
GENPLOT_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Takes the first queued message of the calling thread that passes the filters, without
/// waiting: `window` null accepts every message, (HWND)-1 only thread messages, any other
/// handle only that window's; `filterMin` and `filterMax` both 0 accept every message number,
/// else the inclusive range. PM_REMOVE takes the message off the queue, PM_NOREMOVE leaves
/// it. FALSE, with `*message` untouched, when nothing passes.
GENPLOT_API BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax,
                              UINT removeFlags);
/// There are no dialog boxes on this back end: always FALSE, so the caller dispatches.
GENPLOT_API BOOL IsDialogMessageA(HWND dialog, LPMSG message);
/// TRUE for the four key messages, FALSE for every other message. No character messages
/// are generated: this back end has no keyboard layout.
GENPLOT_API BOOL TranslateMessage(const MSG* message);
/// Calls the procedure of the message's window and returns its result; 0 without a call for
/// a thread message or a window that is no longer alive.
GENPLOT_API LRESULT DispatchMessageA(const MSG* message);

#endif
