#include "platform/window.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>

// Windows live in one process-wide table keyed by a handle number that is never reused, so a
// handle kept after DestroyWindow (a queued message, a host's stale copy) finds nothing instead
// of freed memory. Each thread has its own queue, as each Win32 thread has its own.

namespace
{

struct Window
{
    WNDPROC procedure;
    void* userData;
};

struct WindowTable
{
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, Window> windows;
    std::uintptr_t lastHandle = 0;
};

WindowTable& Table()
{
    // Never destroyed: windows may still be looked up from static destructors at exit.
    static WindowTable* table = new WindowTable;
    return *table;
}

std::deque<MSG>& ThreadQueue()
{
    thread_local std::deque<MSG> queue;
    return queue;
}

std::uintptr_t HandleKey(HWND window)
{
    return reinterpret_cast<std::uintptr_t>(window);
}

// The window's procedure and user data, copied out so the procedure runs without the lock
// held: it may create, destroy or send to windows itself.
bool FindWindow(HWND window, Window* found)
{
    if (window == nullptr)
    {
        return false;
    }
    WindowTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.windows.find(HandleKey(window));
    if (it == table.windows.end())
    {
        return false;
    }
    *found = it->second;
    return true;
}

bool IsLive(HWND window)
{
    Window unused;
    return FindWindow(window, &unused);
}

HWND ThreadMessagesOnly()
{
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
}

bool PassesFilter(const MSG& message, HWND window, UINT filterMin, UINT filterMax)
{
    if (window == ThreadMessagesOnly())
    {
        if (message.hwnd != nullptr)
        {
            return false;
        }
    }
    else if (window != nullptr && message.hwnd != window)
    {
        return false;
    }
    if (filterMin == 0 && filterMax == 0)
    {
        return true;
    }
    return message.message >= filterMin && message.message <= filterMax;
}

DWORD TickCount()
{
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

HWND CreateProcedureWindow(WNDPROC procedure, void* userData)
{
    if (procedure == nullptr)
    {
        return nullptr;
    }
    WindowTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    // Handles count up from 1 and are never handed out twice; null stays "no window" and -1
    // stays the thread-message filter of PeekMessageA.
    std::uintptr_t key = table.lastHandle + 1;
    try
    {
        table.windows.emplace(key, Window{procedure, userData});
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    table.lastHandle = key;
    return reinterpret_cast<HWND>(key);
}

BOOL DestroyWindow(HWND window)
{
    {
        WindowTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        if (window == nullptr || table.windows.erase(HandleKey(window)) == 0)
        {
            return FALSE;
        }
    }
    std::deque<MSG>& queue = ThreadQueue();
    for (auto it = queue.begin(); it != queue.end();)
    {
        it = it->hwnd == window ? queue.erase(it) : it + 1;
    }
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    return IsLive(window) ? TRUE : FALSE;
}

void* GetWindowUserData(HWND window)
{
    Window found;
    return FindWindow(window, &found) ? found.userData : nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window found;
    if (!FindWindow(window, &found))
    {
        return 0;
    }
    return found.procedure(window, message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window != nullptr && !IsLive(window))
    {
        return FALSE;
    }
    try
    {
        ThreadQueue().push_back(MSG{window, message, wParam, lParam, TickCount(), 0, 0});
    }
    catch (const std::bad_alloc&)
    {
        return FALSE;
    }
    return TRUE;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    if (message == nullptr)
    {
        return FALSE;
    }
    std::deque<MSG>& queue = ThreadQueue();
    for (auto it = queue.begin(); it != queue.end();)
    {
        // A window destroyed on another thread could not reach this queue; its messages are
        // dropped here instead, so they are never returned.
        if (it->hwnd != nullptr && !IsLive(it->hwnd))
        {
            it = queue.erase(it);
            continue;
        }
        if (PassesFilter(*it, window, filterMin, filterMax))
        {
            *message = *it;
            if ((removeFlags & PM_REMOVE) != 0)
            {
                queue.erase(it);
            }
            return TRUE;
        }
        ++it;
    }
    return FALSE;
}

BOOL IsDialogMessageA(HWND, LPMSG)
{
    return FALSE;
}

BOOL TranslateMessage(const MSG* message)
{
    if (message == nullptr)
    {
        return FALSE;
    }
    switch (message->message)
    {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT DispatchMessageA(const MSG* message)
{
    if (message == nullptr)
    {
        return 0;
    }
    // A message taken from the queue before its window was destroyed still names it; the
    // table lookup keeps such a message from ever reaching a dead window's procedure.
    Window found;
    if (!FindWindow(message->hwnd, &found))
    {
        return 0;
    }
    return found.procedure(message->hwnd, message->message, message->wParam, message->lParam);
}
