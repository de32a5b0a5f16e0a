#include "platform/cstring.h"

// CString::LoadString over a table compiled into the library (Windows reads the same texts
// from the module's string resource, platform/win32/string_table.rc).

#include <cstring>

namespace
{

struct StringEntry
{
    UINT id;
    const char* text;
};

// The library's own message table. Texts are exactly as hosts have always received them
// (note the two blanks before "Check").
constexpr StringEntry stringTable[] = {
    {0, "no error."},
    {200, "unable to open generic plot file."},
    {201, "unable to open output file."},
    {202, "not enough memory to process file."},
    {203, "unable to process generic plot file."},
    {204, "plot queue failed to respond.  Check installation."},
    {205, "processing of generic plot file aborted."},
    {206, "not a valid generic plot file."},
};

} // namespace

BOOL CString::LoadString(UINT id)
{
    for (const StringEntry& entry : stringTable)
    {
        if (entry.id == id)
        {
            *this = entry.text;
            return TRUE;
        }
    }
    Empty();
    return FALSE;
}
