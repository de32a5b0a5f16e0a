#include "geometry/bbox.h"
#include "geometry/label.h"
#include "geometry/label_extent_internal.h"
#include "geometry/perim.h"

#include <string>

#include <gtest/gtest.h>

namespace
{

struct Box
{
    long llx, lly, urx, ury;
    bool operator==(const Box& o) const
    {
        return llx == o.llx && lly == o.lly && urx == o.urx && ury == o.ury;
    }
};

std::ostream& operator<<(std::ostream& out, const Box& b)
{
    return out << "(" << b.llx << ", " << b.lly << ")-(" << b.urx << ", " << b.ury << ")";
}

Box Extent(long x, long y, long dx, long dy, int justification, const char* text, int height)
{
    CBBox box;
    genplot::detail::ComputeLabelExtent(x, y, dx, dy, justification, text, height, &box);
    return {box.lowerLeft.x, box.lowerLeft.y, box.upperRight.x, box.upperRight.y};
}

TEST(LabelExtentTest, UnturnedBlockForEachJustification)
{
    EXPECT_EQ(Extent(100, 200, 10000, 0, 1, "AB\r\nCDE", 10), (Box{100, 180, 130, 210}));
    EXPECT_EQ(Extent(100, 200, 10000, 0, 2, "AB\r\nCDE", 10), (Box{100, 175, 130, 205}));
    EXPECT_EQ(Extent(100, 200, 10000, 0, 5, "AB\r\nCDE", 10), (Box{85, 175, 115, 205}));
}

TEST(LabelExtentTest, RoundingAddsHalfAndMovesNegativesTowardZero)
{
    // Unturned block (-7, -5)-(8, 2); the 0.5 moves -7 to -6 and -5 to -4.
    EXPECT_EQ(Extent(0, 0, 10000, 0, 5, "ABC", 5), (Box{-6, -4, 8, 2}));
}

TEST(LabelExtentTest, QuarterTurnAndZeroDirection)
{
    EXPECT_EQ(Extent(0, 0, 0, 10000, 1, "AB", 100), (Box{-99, 0, 50, 200}));
    EXPECT_EQ(Extent(0, 0, 0, 0, 1, "AB", 100), (Box{0, -49, 200, 100}));
}

TEST(LabelExtentTest, QuarterTurnTruncatesValuesJustBelowAnInteger)
{
    // Off the origin, cos(pi/2) is not 0 and the turned corners land a hair beside integers
    // and halves (-999.9999999999999, 500.00000000000006 ...). The expected boxes follow the
    // arithmetic step by step, each operation rounded on its own; contracting a multiply and
    // an add into one fused operation moves some of them across the integer.
    EXPECT_EQ(Extent(0, 1, 0, 10000, 1, "A", 1000), (Box{-999, 0, 500, 1000}));
    EXPECT_EQ(Extent(3, 1, 0, 10000, 2, "A", 1000), (Box{-496, 1, 1003, 1001}));
}

TEST(LabelExtentTest, EmptyTextIsOnePoint)
{
    EXPECT_EQ(Extent(100, 200, 10000, 0, 1, "", 10), (Box{100, 210, 100, 210}));
}

TEST(LabelExtentTest, LineBreaksAreCarriageReturnsThatSwallowTheNextCharacter)
{
    // A lone "\n" is an ordinary character: one line of five.
    EXPECT_EQ(Extent(0, 0, 10000, 0, 1, "ab\ncd", 10), Extent(0, 0, 10000, 0, 1, "abcde", 10));
    // "AB\r\n" is two lines, longest 2; a final lone "\r" measures the same.
    Box twoLines = Extent(0, 0, 10000, 0, 1, "AB\r\n", 10);
    EXPECT_EQ(twoLines, (Box{0, -19, 20, 10}));
    EXPECT_EQ(Extent(0, 0, 10000, 0, 1, "AB\r", 10), twoLines);
    // A lone "\r" alone: two empty lines.
    EXPECT_EQ(Extent(0, 0, 10000, 0, 1, "\r", 10), (Box{0, -19, 0, 10}));
    // "\r" followed by any character skips that character.
    EXPECT_EQ(Extent(0, 0, 10000, 0, 1, "AB\rXCDE", 10),
              Extent(0, 0, 10000, 0, 1, "AB\r\nCDE", 10));
}

TEST(LabelExtentTest, UnknownJustificationIsPlacedLikeCodeOne)
{
    EXPECT_EQ(Extent(100, 200, 10000, 0, 3, "AB\r\nCDE", 10),
              Extent(100, 200, 10000, 0, 1, "AB\r\nCDE", 10));
    EXPECT_EQ(Extent(100, 200, 10000, 0, -7, "AB", 10), Extent(100, 200, 10000, 0, 1, "AB", 10));
}

TEST(LabelExtentTest, ExtremeHeightsAndAnchorsSaturateInsteadOfOverflowing)
{
    // 511 characters at the largest height: the width alone exceeds 32 bits.
    std::string text(511, 'W');
    Box wide = Extent(0, 0, 10000, 0, 1, text.c_str(), 2147483647);
    EXPECT_EQ(wide.urx, 2147483647);
    EXPECT_EQ(wide.ury, 2147483647);
    EXPECT_EQ(wide.lly, -1073741822); // 2147483647 - 3221225470, moved toward zero by the 0.5
    EXPECT_EQ(wide.llx, 0);
    // Anchor at the edge of the range with a turn: no wrap-around to the other side.
    Box turned = Extent(2147483647, -2147483647 - 1, -10000, 0, 5, "ABC", 1000);
    EXPECT_GE(turned.urx, turned.llx);
    EXPECT_GE(turned.ury, turned.lly);
    EXPECT_EQ(turned.urx, 2147483647);
    // Values inside the range are unaffected by the wide arithmetic (the 0.5 moves negative
    // coordinates one unit toward zero, as everywhere).
    EXPECT_EQ(Extent(-2000000000, 0, 10000, 0, 1, "AB", 1000),
              (Box{-1999999999, -499, -1999997999, 1000}));
}

TEST(LabelTest, UpdateBoundingBoxesGrowsPieceAndBox)
{
    CLabel label;
    label.text = "AB\r\nCDE";
    label.textHeight = 10;
    label.position = CCoord(100, 200);
    CPerim piece;
    CBBox box;
    label.UpdateBoundingBoxes(&piece, &box);
    EXPECT_EQ(piece.box.lowerLeft, CCoord(100, 180));
    EXPECT_EQ(piece.box.upperRight, CCoord(130, 210));
    EXPECT_EQ(box.upperRight, CCoord(130, 210));
}

TEST(LabelTest, UpdateBoundingBoxesWithNullPieceGrowsOnlyTheBoxAndNeverShrinks)
{
    CLabel label;
    label.text = "A";
    label.textHeight = 10;
    label.position = CCoord(5, 5);
    CBBox box;
    box.Update(-100, -100);
    box.Update(100, 100);
    label.UpdateBoundingBoxes(nullptr, &box);
    EXPECT_EQ(box.lowerLeft, CCoord(-100, -100));
    EXPECT_EQ(box.upperRight, CCoord(100, 100));
}

TEST(LabelTest, EmptyTextAddsItsSinglePoint)
{
    CLabel label;
    label.textHeight = 10;
    label.position = CCoord(100, 200);
    CBBox box;
    label.UpdateBoundingBoxes(nullptr, &box);
    EXPECT_EQ(box.lowerLeft, CCoord(100, 210));
    EXPECT_EQ(box.upperRight, CCoord(100, 210));
}

TEST(LabelTest, LongTextIsMeasuredByItsFirst511Characters)
{
    CLabel label;
    label.text = std::string(600, 'x').c_str();
    label.textHeight = 1;
    CBBox box;
    label.UpdateBoundingBoxes(nullptr, &box);
    EXPECT_EQ(box.upperRight.x, 511);
}

TEST(LabelTest, CopyLabelCopiesEveryFieldAndLeavesTheSource)
{
    CLabel source;
    source.justification = 5;
    source.textHeight = 250;
    source.directionX = 0;
    source.directionY = 10000;
    source.position = CCoord(-3, 8);
    source.text = "one\r\ntwo";
    CLabel target;
    target.text = "old";
    source.CopyLabel(&target);
    EXPECT_EQ(target.justification, 5);
    EXPECT_EQ(target.textHeight, 250);
    EXPECT_EQ(target.directionX, 0);
    EXPECT_EQ(target.directionY, 10000);
    EXPECT_EQ(target.position, CCoord(-3, 8));
    EXPECT_EQ(target.text, "one\r\ntwo");
    EXPECT_EQ(source.text, "one\r\ntwo");
}

} // namespace
