#pragma once

class CBBox;

namespace genplot::detail
{

/// The box a label's text block occupies once turned to its direction (atan2(dirY, dirX),
/// counter-clockwise, y up) about the anchor (x, y). Lines are 1.5 heights apart; a character
/// is `textHeight` wide. `text` is NUL-terminated; "\r" ends a line and the character after
/// it is skipped. Replaces what `extent` held.
///
/// Safer than the obvious 32-bit reading: products and offsets are taken wide, and a
/// coordinate that would not fit 32 bits saturates, so extreme heights or anchors never
/// overflow. Justification codes other than 1, 2 and 5 are placed as 1.
void ComputeLabelExtent(long x, long y, long directionX, long directionY, int justification,
                        const char* text, int textHeight, CBBox* extent);

} // namespace genplot::detail
