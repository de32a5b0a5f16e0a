#include "platform/window.h"

// Procedure windows on Win32: message-only windows of one class this module registers. The
// window keeps the host's procedure in its extra bytes and the host's data in GWLP_USERDATA;
// the class procedure forwards to the host's procedure only while the window is alive, so
// creation and destruction messages go to DefWindowProcA as Win32 needs them to.

// The base of the module this code is linked into (the DLL, or a program that links the
// static library): the class is registered for that module, not the host's executable.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{

// Extra window bytes: the host's procedure, stored once the window exists.
constexpr int kProcedureSlot = 0;

HINSTANCE ThisModule()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

WNDPROC StoredProcedure(HWND window)
{
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, kProcedureSlot));
}

LRESULT CALLBACK ForwardingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The host's procedure never sees WM_DESTROY or what follows: on POSIX, destroying a window
    // calls nothing, and a procedure may rely on its data being gone by then. (Messages still
    // posted to the window are discarded by the system, as on POSIX.)
    if (message == WM_DESTROY)
    {
        SetWindowLongPtrA(window, kProcedureSlot, 0);
    }
    WNDPROC procedure = StoredProcedure(window);
    if (procedure == nullptr)
    {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return procedure(window, message, wParam, lParam);
}

// Registered on first use and unregistered when the module unloads: Win32 unregisters a
// DLL's classes only when the process ends, and a reloaded DLL could otherwise meet its old
// class with a procedure address that no longer exists.
class ProcedureWindowClass
{
  public:
    ProcedureWindowClass()
    {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &ForwardingProcedure;
        windowClass.cbWndExtra = sizeof(LONG_PTR);
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = "genplot.ProcedureWindow";
        atom_ = RegisterClassExA(&windowClass);
    }
    ~ProcedureWindowClass()
    {
        if (atom_ != 0)
        {
            UnregisterClassA(MAKEINTATOM(atom_), ThisModule());
        }
    }
    ProcedureWindowClass(const ProcedureWindowClass&) = delete;
    ProcedureWindowClass& operator=(const ProcedureWindowClass&) = delete;

    ATOM atom() const
    {
        return atom_;
    }

  private:
    ATOM atom_ = 0;
};

ATOM ClassAtom()
{
    static ProcedureWindowClass windowClass;
    return windowClass.atom();
}

// A live window of this module's class in this process. Another process's window could carry
// any number in GWLP_USERDATA, so it never counts.
bool IsProcedureWindow(HWND window)
{
    if (window == nullptr || !IsWindow(window))
    {
        return false;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() && GetWindowLongPtrA(window, GWLP_WNDPROC) ==
                                                   reinterpret_cast<LONG_PTR>(&ForwardingProcedure);
}

} // namespace

HWND CreateProcedureWindow(WNDPROC procedure, void* userData)
{
    if (procedure == nullptr)
    {
        return nullptr;
    }
    const ATOM atom = ClassAtom();
    if (atom == 0)
    {
        return nullptr;
    }
    HWND window = CreateWindowExA(0, MAKEINTATOM(atom), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ThisModule(), nullptr);
    if (window == nullptr)
    {
        return nullptr;
    }
    // Data first: the procedure may be called as soon as it is stored.
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(userData));
    SetWindowLongPtrA(window, kProcedureSlot, reinterpret_cast<LONG_PTR>(procedure));
    return window;
}

void* GetWindowUserData(HWND window)
{
    if (!IsProcedureWindow(window))
    {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}
