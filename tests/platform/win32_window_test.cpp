// The Windows back end's windows: procedure windows over a registered class, and the progress
// control on a real common-controls progress bar. Built only for Windows.

#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "support/recording_window.h"

#include <gtest/gtest.h>

namespace
{

int g_calls = 0;

LRESULT CountingProcedure(HWND, UINT, WPARAM, LPARAM)
{
    ++g_calls;
    return 0;
}

// comctl32 is loaded at run time, so the library and its tests link no import library for it.
bool RegisterProgressClass()
{
    HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (comctl == nullptr)
        return false;
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    // Through void(*)(): a FARPROC is cast to the real type without a cast-function-type warning.
    auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(comctl, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    return init != nullptr && init(&classes) != FALSE;
}

} // namespace

TEST(Win32ProcedureWindowTest, ProcedureSeesNoCreationOrDestructionMessages)
{
    g_calls = 0;
    HWND window = CreateProcedureWindow(&CountingProcedure, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(g_calls, 0); // WM_NCCREATE, WM_CREATE and the rest went to DefWindowProcA
    SendMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_EQ(g_calls, 1);
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(g_calls, 1); // nor WM_DESTROY and WM_NCDESTROY
    EXPECT_FALSE(IsWindow(window));
}

TEST(Win32ProcedureWindowTest, RecordingWindowGetsExactlyWhatWasSentAndPosted)
{
    RecordingWindow window;
    EXPECT_TRUE(window.messages().empty());
    SendMessageA(window.handle(), WM_USER + 3, 4, 5);
    ASSERT_TRUE(PostMessageA(window.handle(), WM_USER + 6, 7, 8));
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, window.handle(), 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    ASSERT_EQ(window.messages().size(), 2u);
    EXPECT_EQ(window.messages()[0].message, WM_USER + 3u);
    EXPECT_EQ(window.messages()[0].wParam, 4u);
    EXPECT_EQ(window.messages()[0].lParam, 5);
    EXPECT_EQ(window.messages()[1].message, WM_USER + 6u);
    EXPECT_EQ(window.messages()[1].lParam, 8);
}

TEST(Win32ProcedureWindowTest, UserDataIsReadOnlyFromLiveProcedureWindows)
{
    int data = 0;
    HWND own = CreateProcedureWindow(&CountingProcedure, &data);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(GetWindowUserData(own), &data);

    // Another class's window may hold anything in GWLP_USERDATA; it is never taken for ours.
    HWND other =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    SetWindowLongPtrA(other, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&data));
    EXPECT_EQ(GetWindowUserData(other), nullptr);
    DestroyWindow(other);

    DestroyWindow(own);
    EXPECT_EQ(GetWindowUserData(own), nullptr);
    EXPECT_EQ(GetWindowUserData(nullptr), nullptr);
}

TEST(Win32ProcedureWindowTest, PostedMessagesOfADestroyedWindowAreDropped)
{
    RecordingWindow kept;
    HWND doomed = CreateProcedureWindow(&CountingProcedure, nullptr);
    ASSERT_NE(doomed, nullptr);
    PostMessageA(doomed, WM_USER, 0, 0);
    PostMessageA(kept.handle(), WM_USER + 1, 0, 0);
    PostMessageA(doomed, WM_USER + 2, 0, 0);
    ASSERT_TRUE(DestroyWindow(doomed));

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 2, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, kept.handle());
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 2, PM_REMOVE));
}

TEST(Win32ProgressCtrlTest, DrivesACommonControlsProgressBar)
{
    ASSERT_TRUE(RegisterProgressClass());
    // Message-only: the control works without a desktop, as under a headless wine.
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", 0, 0, 0, 200, 20, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(bar, nullptr);
    CProgressCtrl progress(bar);

    progress.SetRange(0, 100);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(progress.SetPos(42), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 42);
    // The writer sends positions past the range; the control keeps them in it.
    EXPECT_EQ(progress.SetPos(150), 42);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);

    progress.SetRange(10, 20);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 10);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 20);
    DestroyWindow(bar);
}
