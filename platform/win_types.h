#pragma once

#include <cstdint>

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
