// CObList::Swap hands a whole list to another in constant time: the way a stroke's points
// become a stored line's without copying a point.

#include "platform/allocation_internal.h"
#include "platform/ob_list.h"

#include <vector>

#include <gtest/gtest.h>

namespace
{

struct Item : CObject
{
    explicit Item(int v) : value(v)
    {
    }
    int value;
};

std::vector<int> Values(const CObList& list)
{
    std::vector<int> values;
    for (POSITION p = list.GetHeadPosition(); p != nullptr;)
        values.push_back(static_cast<Item*>(list.GetNext(p))->value);
    std::vector<int> backward;
    for (POSITION p = list.GetTailPosition(); p != nullptr;)
        backward.insert(backward.begin(), static_cast<Item*>(list.GetPrev(p))->value);
    EXPECT_EQ(values, backward) << "links disagree between directions";
    EXPECT_EQ(static_cast<std::size_t>(list.GetCount()), values.size());
    return values;
}

void DeleteElements(CObList& list)
{
    while (!list.IsEmpty())
        delete list.RemoveHead();
}

TEST(ObListSwapTest, ExchangesContentsWithoutAllocatingAndKeepsBothUsable)
{
    CObList a(10);
    CObList b(10);
    for (int i = 0; i < 25; ++i)
        a.AddTail(new Item(i));
    b.AddTail(new Item(100));
    POSITION third = a.GetHeadPosition();
    a.GetNext(third);
    a.GetNext(third);

    unsigned long before = genplot::detail::AllocationCount();
    a.Swap(b);
    EXPECT_EQ(genplot::detail::AllocationCount(), before);

    EXPECT_EQ(Values(a), std::vector<int>{100});
    std::vector<int> expected;
    for (int i = 0; i < 25; ++i)
        expected.push_back(i);
    EXPECT_EQ(Values(b), expected);
    // A position now belongs to the list that holds its element.
    EXPECT_EQ(static_cast<Item*>(b.GetAt(third))->value, 2);

    // Both keep working on the nodes and free lists they took over.
    delete b.RemoveHead();
    b.AddTail(new Item(25));
    a.AddHead(new Item(99));
    b.InsertBefore(third, new Item(-2));
    EXPECT_EQ(Values(a), (std::vector<int>{99, 100}));
    expected.erase(expected.begin());
    expected.insert(expected.begin() + 1, -2);
    expected.push_back(25);
    EXPECT_EQ(Values(b), expected);
    DeleteElements(a);
    DeleteElements(b);
}

TEST(ObListSwapTest, SwapWithAnEmptyListMovesEverythingAndBlocksGoWithTheNodes)
{
    CObList full(3);
    CObList empty(10);
    for (int i = 0; i < 7; ++i)
        full.AddTail(new Item(i));
    full.Swap(empty);
    EXPECT_TRUE(full.IsEmpty());
    EXPECT_EQ(full.GetHeadPosition(), nullptr);
    EXPECT_EQ(Values(empty), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    // The 3-node blocks moved with their nodes; growing and emptying both lists frees every
    // block with the size it was made with (the pool and the sanitizers check).
    for (int i = 7; i < 20; ++i)
        empty.AddTail(new Item(i));
    for (int i = 0; i < 20; ++i)
        full.AddTail(new Item(i));
    DeleteElements(full);
    DeleteElements(empty);
    full.Swap(empty);
    EXPECT_TRUE(full.IsEmpty());
    EXPECT_TRUE(empty.IsEmpty());
}

} // namespace
