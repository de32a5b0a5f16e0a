#pragma once

#include <cstdint>

#if defined(_WIN32)

// Windows: the real types and constants. NOMINMAX keeps windows.h from defining min and max as
// macros, which would break std::numeric_limits<T>::max() in the library's own headers; a host
// that includes <windows.h> before a genplot header must define NOMINMAX itself.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else

// The small Win32 vocabulary the library is written against. Widths are those of the
// Win32 ABI, so LONG is 32 bits on every platform.
typedef int BOOL;
typedef unsigned int UINT;
typedef std::int32_t LONG;
typedef std::uint32_t DWORD;
typedef std::uint8_t BYTE;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef std::intptr_t INT_PTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/// Handle to a window; see platform/window.h.
typedef struct HWND__* HWND;

#endif

// Both sides: the widths the library and its files rely on. LONG is `long` on Windows and
// std::int32_t elsewhere, so code never takes a LONG* from an std::int32_t or the reverse.
static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4, "LONG and DWORD are 32 bits");
static_assert(sizeof(BYTE) == 1 && sizeof(BOOL) == sizeof(int), "BYTE and BOOL widths");
static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*) &&
                  sizeof(LRESULT) == sizeof(void*) && sizeof(INT_PTR) == sizeof(void*),
              "message parameters and INT_PTR are pointer-sized");
