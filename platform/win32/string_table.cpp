#include "platform/cstring.h"

#include <vector>

// CString::LoadString over the module's string resource (platform/win32/string_table.rc).
// The texts are looked up in the module this code is linked into, whichever module state is
// current: the library's table is the only one it is asked for.

extern "C" IMAGE_DOS_HEADER __ImageBase;

// The member's own name, not the macro windows.h makes of it (see platform/cstring.h).
#undef LoadString

BOOL CString::LoadString(UINT id)
{
    HINSTANCE module = reinterpret_cast<HINSTANCE>(&__ImageBase);
    // LoadStringA gives no length up front: it cuts a text to the buffer and says how much it
    // copied. A text that filled the buffer may have been cut, so it is read again larger.
    char firstTry[256];
    int copied = ::LoadStringA(module, id, firstTry, sizeof firstTry);
    if (copied <= 0)
    {
        Empty();
        return FALSE;
    }
    if (copied < static_cast<int>(sizeof firstTry) - 1)
    {
        *this = CString(firstTry, copied);
        return TRUE;
    }
    // A string resource holds at most 65535 characters.
    std::vector<char> large(sizeof firstTry);
    do
    {
        large.resize(large.size() * 2);
        copied = ::LoadStringA(module, id, large.data(), static_cast<int>(large.size()));
    } while (copied >= static_cast<int>(large.size()) - 1 && large.size() <= 65536);
    *this = CString(large.data(), copied);
    return TRUE;
}
