#pragma once

#include "geometry/coord.h"
#include "platform/cstring.h"

#include <cstdint>

class CBBox;
class CPerim;

/// A text label: one or more lines ("\r\n" between them) placed at an anchor.
class GENPLOT_API CLabel : public CObject
{
  public:
    /// Justification 1, position (0, 0), empty text, height 0, direction (10000, 0).
    CLabel();
    ~CLabel() override;
    CLabel(const CLabel&) = delete;
    CLabel& operator=(const CLabel&) = delete;

    /// Copies every field of this label into `target` (must not be null), overwriting it.
    /// May throw CMemoryException* while copying the text.
    void CopyLabel(CLabel* target) const;
    /// Grows the piece's box (when `piece` is not null), then `box` (must not be null), by the
    /// label's extent: its turned text block, measured on at most the first 511 characters.
    void UpdateBoundingBoxes(CPerim* piece, CBBox* box) const;

    /// Where the anchor lies on the text block: 1 (left, one height below the top),
    /// 2 (left, half a height below the top) or 5 (centred, half a height below the top).
    /// Other codes are placed as 1.
    std::int32_t justification;
    /// Height of one text line, and width of one character, in plot units.
    std::int32_t textHeight;
    /// Text direction; only the angle counts. (10000, 0) is plain horizontal.
    std::int32_t directionX;
    std::int32_t directionY;
    /// Anchor point in plot units.
    CCoord position;
    /// The text; lines are separated by "\r\n".
    CString text;
};
