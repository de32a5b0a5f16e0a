#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "support/recording_window.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace
{

// Each test starts and ends with an empty queue on this thread, so messages never leak
// from one test into the next.
void DrainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    {
    }
}

class MessagePumpTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DrainQueue();
    }
    void TearDown() override
    {
        DrainQueue();
    }
};

int g_calls = 0;

LRESULT CountingProcedure(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++g_calls;
    return static_cast<LRESULT>(message + wParam + static_cast<WPARAM>(lParam));
}

} // namespace

TEST_F(MessagePumpTest, SendMessageCallsTheProcedureAtOnceAndReturnsItsResult)
{
    RecordingWindow window;
    window.progress()->SetPos(7);
    EXPECT_EQ(SendMessageA(window.handle(), PBM_SETPOS, 9, 0), 7); // previous position
    ASSERT_EQ(window.messages().size(), 2u);
    EXPECT_EQ(window.messages()[1].message, PBM_SETPOS);
    EXPECT_EQ(window.messages()[1].wParam, 9u);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)); // nothing was queued
}

TEST_F(MessagePumpTest, PostedMessagesWaitForThePumpInOrder)
{
    RecordingWindow window;
    ASSERT_TRUE(PostMessageA(window.handle(), WM_USER + 10, 1, 2));
    ASSERT_TRUE(PostMessageA(window.handle(), WM_USER + 11, 3, 4));
    EXPECT_TRUE(window.messages().empty());

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 10);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)); // still the first
    EXPECT_EQ(msg.hwnd, window.handle());
    EXPECT_EQ(msg.message, WM_USER + 10);
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 2);
    EXPECT_FALSE(IsDialogMessageA(nullptr, &msg));
    EXPECT_FALSE(TranslateMessage(&msg));
    DispatchMessageA(&msg);
    ASSERT_EQ(window.messages().size(), 1u);
    EXPECT_EQ(window.messages()[0].message, WM_USER + 10);

    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 11);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessagePumpTest, PeekFiltersByWindowAndByInclusiveRange)
{
    RecordingWindow first;
    RecordingWindow second;
    PostMessageA(first.handle(), WM_USER + 1, 0, 0);
    PostMessageA(second.handle(), WM_USER + 2, 0, 0);
    PostMessageA(nullptr, WM_USER + 3, 0, 0); // thread message

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, second.handle(), 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 3);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(DispatchMessageA(&msg), 0); // thread messages go to no procedure
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 9, PM_NOREMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, first.handle(), WM_USER + 2, WM_USER + 2, PM_NOREMOVE));

    // A failed peek leaves the caller's message alone.
    msg.message = 12345;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 1, 2, PM_REMOVE));
    EXPECT_EQ(msg.message, 12345u);
}

TEST_F(MessagePumpTest, DestroyingAWindowDropsItsQueuedMessages)
{
    RecordingWindow kept;
    HWND doomed = CreateProcedureWindow(&CountingProcedure, nullptr);
    ASSERT_NE(doomed, nullptr);
    PostMessageA(doomed, WM_USER, 0, 0);
    PostMessageA(kept.handle(), WM_USER + 1, 0, 0);
    PostMessageA(doomed, WM_USER + 2, 0, 0);
    ASSERT_TRUE(DestroyWindow(doomed));

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, kept.handle());
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(DestroyWindow(doomed));
}

TEST_F(MessagePumpTest, MessageForADestroyedWindowIsNeverDelivered)
{
    g_calls = 0;
    HWND window = CreateProcedureWindow(&CountingProcedure, nullptr);
    PostMessageA(window, WM_USER, 0, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(window);

    EXPECT_EQ(DispatchMessageA(&msg), 0); // taken before the window went away
    EXPECT_EQ(SendMessageA(window, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetWindowUserData(window), nullptr);
    EXPECT_EQ(g_calls, 0);

    // The handle number is not handed out again.
    HWND next = CreateProcedureWindow(&CountingProcedure, nullptr);
    EXPECT_NE(next, window);
    DestroyWindow(next);
}

TEST_F(MessagePumpTest, DispatchReturnsTheProcedureResult)
{
    g_calls = 0;
    int data = 0;
    HWND window = CreateProcedureWindow(&CountingProcedure, &data);
    EXPECT_EQ(GetWindowUserData(window), &data);
    PostMessageA(window, 100, 20, 3);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), 123);
    EXPECT_EQ(g_calls, 1);
    DestroyWindow(window);
}

TEST_F(MessagePumpTest, CreationRejectsANullProcedure)
{
    EXPECT_EQ(CreateProcedureWindow(nullptr, nullptr), nullptr);
    EXPECT_EQ(SendMessageA(nullptr, WM_USER, 0, 0), 0);
}

TEST_F(MessagePumpTest, TranslateReportsOnlyKeyMessages)
{
#if defined(_WIN32)
    GTEST_SKIP() << "user32's own TranslateMessage; the key list is the POSIX back end's";
#endif
    MSG msg{};
    for (UINT key : {WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP})
    {
        msg.message = key;
        EXPECT_TRUE(TranslateMessage(&msg)) << key;
    }
    for (UINT other : {WM_NULL, WM_CHAR, WM_USER, PBM_SETPOS})
    {
        msg.message = other;
        EXPECT_FALSE(TranslateMessage(&msg)) << other;
    }
}

TEST_F(MessagePumpTest, EachThreadHasItsOwnQueue)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Win32 queues a posted message on the thread that created the window";
#endif
    RecordingWindow window;
    std::thread poster([&] { PostMessageA(window.handle(), WM_USER, 0, 0); });
    poster.join();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(MessagePumpTest, ProcedureMaySetAFlagWhenThePumpDispatches)
{
    RecordingWindow window;
    int cancel = 0;
    window.OnMessage([&](const RecordedMessage& m) {
        if (m.message == WM_USER + 5)
        {
            cancel = 1;
        }
    });
    PostMessageA(window.handle(), WM_USER + 5, 0, 0);
    EXPECT_EQ(cancel, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_EQ(cancel, 1);
}

TEST(ProgressCtrlTest, SetRangePacksBothBoundsIntoLParam)
{
    RecordingWindow window;
    window.progress()->SetRange(0, 100);
    window.progress()->SetRange(-1, 5);
    ASSERT_EQ(window.messages().size(), 2u);
    EXPECT_EQ(window.messages()[0].message, 1025u);
    EXPECT_EQ(window.messages()[0].wParam, 0u);
    EXPECT_EQ(window.messages()[0].lParam, 0x00640000);
    EXPECT_EQ(window.messages()[1].lParam, 0x0005FFFF);
    EXPECT_EQ(window.Ranges(), (std::vector<std::pair<int, int>>{{0, 100}, {-1, 5}}));
}

TEST(ProgressCtrlTest, SetPosSendsThePositionInWParam)
{
    RecordingWindow window;
    EXPECT_EQ(window.progress()->SetPos(75), 0);
    EXPECT_EQ(window.progress()->SetPos(84), 75);
    ASSERT_EQ(window.messages().size(), 2u);
    EXPECT_EQ(window.messages()[1].message, 1026u);
    EXPECT_EQ(window.messages()[1].wParam, 84u);
    EXPECT_EQ(window.messages()[1].lParam, 0);
    EXPECT_EQ(window.Positions(), (std::vector<long>{75, 84}));
}

TEST(ProgressCtrlTest, ControlWithoutAWindowSendsNothing)
{
    CProgressCtrl unattached;
    EXPECT_EQ(unattached.SetPos(10), 0);
    unattached.SetRange(0, 100); // must not crash
}
