#include "geometry/label.h"
#include "geometry/perim.h"

#include <vector>

#include <gtest/gtest.h>

namespace
{

// Counts destructions so a test can tell that each owned object was deleted exactly once.
int destroyedLines = 0;
int destroyedLabels = 0;

struct CountedLine : CLineSeg
{
    ~CountedLine() override
    {
        ++destroyedLines;
    }
};

struct CountedLabel : CLabel
{
    ~CountedLabel() override
    {
        ++destroyedLabels;
    }
};

std::vector<int> deletionOrder;

struct OrderedLine : CLineSeg
{
    explicit OrderedLine(int idValue) : id(idValue)
    {
    }
    ~OrderedLine() override
    {
        deletionOrder.push_back(id);
    }
    int id;
};

TEST(PerimTest, NewPieceIsEmpty)
{
    CPerim piece;
    EXPECT_EQ(piece.GetPointCount(), 0);
    EXPECT_EQ(piece.GetHeadPosition(), nullptr);
    EXPECT_EQ(piece.boxPerimeter, 0.0);
    EXPECT_EQ(piece.box.lowerLeft.x, CBBox::kEmptyMin);
    EXPECT_TRUE(piece.nonPerimeterLines.IsEmpty());
    EXPECT_TRUE(piece.labels.IsEmpty());
}

TEST(PerimTest, AddPPtDropsRepeatsAndWalksInOrder)
{
    CPerim piece;
    EXPECT_NE(piece.AddPPt(1, 1), nullptr);
    EXPECT_EQ(piece.AddPPt(1, 1), nullptr);
    piece.AddPPt(CPoint(4, 1));
    piece.AddPPt(4, 5);
    ASSERT_EQ(piece.GetPointCount(), 3);
    const long expected[3][2] = {{1, 1}, {4, 1}, {4, 5}};
    int i = 0;
    for (POSITION p = piece.GetHeadPosition(); p != nullptr; ++i)
    {
        long x = 0, y = 0;
        piece.perimGetXY(p, &x, &y);
        EXPECT_EQ(piece.perimGetX(p), expected[i][0]);
        EXPECT_EQ(piece.perimGetY(p), expected[i][1]);
        CCoord* point = piece.GetNextPoint(p);
        EXPECT_EQ(point->x, x);
        EXPECT_EQ(point->y, y);
    }
    EXPECT_EQ(i, 3);
    EXPECT_EQ(piece.GetLastPoint()->y, 5);
}

TEST(PerimTest, DestructionDeletesEachLineAndLabelOnce)
{
    destroyedLines = destroyedLabels = 0;
    {
        CPerim piece;
        piece.nonPerimeterLines.AddTail(new CountedLine);
        piece.nonPerimeterLines.AddTail(new CountedLine);
        piece.labels.AddTail(new CountedLabel);
    }
    EXPECT_EQ(destroyedLines, 2);
    EXPECT_EQ(destroyedLabels, 1);
}

TEST(PerimTest, RemoveOperationsEmptyTheirListsOnly)
{
    destroyedLines = destroyedLabels = 0;
    CPerim piece;
    piece.nonPerimeterLines.AddTail(new CountedLine);
    piece.labels.AddTail(new CountedLabel);
    piece.labels.AddTail(new CountedLabel);
    piece.RemoveLabels();
    EXPECT_EQ(destroyedLabels, 2);
    EXPECT_TRUE(piece.labels.IsEmpty());
    EXPECT_EQ(piece.nonPerimeterLines.GetCount(), 1);
    piece.DeleteNonPerimeterLines();
    EXPECT_EQ(destroyedLines, 1);
}

TEST(PerimTest, DeletingLinesGoesInListOrderSkipsNullsAndLeavesTheListUsable)
{
    deletionOrder.clear();
    {
        CPerim piece;
        // Twelve lines and a null a host appended: more than one node block.
        for (int id = 1; id <= 12; ++id)
        {
            piece.nonPerimeterLines.AddTail(new OrderedLine(id));
            if (id == 6)
                piece.nonPerimeterLines.AddTail(nullptr);
        }
        piece.DeleteNonPerimeterLines();
        EXPECT_EQ(deletionOrder, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        EXPECT_TRUE(piece.nonPerimeterLines.IsEmpty());
        EXPECT_EQ(piece.nonPerimeterLines.GetHeadPosition(), nullptr);
        EXPECT_EQ(piece.nonPerimeterLines.GetTailPosition(), nullptr);
        piece.nonPerimeterLines.AddTail(new OrderedLine(13));
        EXPECT_EQ(piece.nonPerimeterLines.GetCount(), 1);
    }
    EXPECT_EQ(deletionOrder.back(), 13);
    EXPECT_EQ(deletionOrder.size(), 13u);
}

} // namespace
