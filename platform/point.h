#pragma once

#include "platform/export.h"
#include "platform/win_types.h"

#if !defined(_WIN32)
/// The platform point structure: two signed 32-bit fields, x first (windows.h has it on Windows).
typedef struct tagPOINT
{
    LONG x;
    LONG y;
} POINT;
#endif

static_assert(sizeof(POINT) == 8, "POINT is two 32-bit fields");

/// Point structure with constructors, as the host's framework offers it.
class CPoint : public tagPOINT
{
  public:
    CPoint() : tagPOINT{0, 0}
    {
    }
    CPoint(long initX, long initY) : tagPOINT{static_cast<LONG>(initX), static_cast<LONG>(initY)}
    {
    }
};
