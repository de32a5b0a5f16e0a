#include "platform/progress_ctrl.h"

#include "platform/window.h"

#include <cstdint>

void CProgressCtrl::SetRange(short lower, short upper)
{
    // Both bounds travel as 16-bit words in one LPARAM, low word first, exactly as
    // MAKELPARAM packs them; a negative bound keeps its 16-bit pattern.
    const DWORD packed = (static_cast<DWORD>(static_cast<std::uint16_t>(upper)) << 16) |
                         static_cast<DWORD>(static_cast<std::uint16_t>(lower));
    SendMessageA(m_hWnd, PBM_SETRANGE, 0, static_cast<LPARAM>(packed));
}

int CProgressCtrl::SetPos(int position)
{
    return static_cast<int>(SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0));
}
