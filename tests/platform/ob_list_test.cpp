#include "platform/allocation_internal.h"
#include "platform/exception.h"
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

std::vector<int> Forward(const CObList& list)
{
    std::vector<int> values;
    for (POSITION p = list.GetHeadPosition(); p != nullptr;)
        values.push_back(static_cast<Item*>(list.GetNext(p))->value);
    return values;
}

std::vector<int> Backward(const CObList& list)
{
    std::vector<int> values;
    for (POSITION p = list.GetTailPosition(); p != nullptr;)
        values.push_back(static_cast<Item*>(list.GetPrev(p))->value);
    return values;
}

TEST(ObListTest, AddHeadTailAndInsertBeforeKeepBothDirectionsConsistent)
{
    Item a(1), b(2), c(3), d(4), e(5);
    CObList list(3);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    list.AddTail(&b);
    list.AddHead(&a);
    POSITION pd = list.AddTail(&d);
    list.InsertBefore(pd, &c);
    list.InsertBefore(list.GetHeadPosition(), &e); // new head
    EXPECT_EQ(Forward(list), (std::vector<int>{5, 1, 2, 3, 4}));
    EXPECT_EQ(Backward(list), (std::vector<int>{4, 3, 2, 1, 5}));
    EXPECT_EQ(list.GetCount(), 5);
    EXPECT_EQ(static_cast<Item*>(list.GetAt(pd))->value, 4);
}

TEST(ObListTest, RemoveHeadNeverDeletesTheElementAndEmptiesCleanly)
{
    Item a(1), b(2);
    CObList list;
    list.AddTail(&a);
    list.AddTail(&b);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(list.GetHead(), &b);
    EXPECT_EQ(list.RemoveHead(), &b);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    EXPECT_EQ(list.GetTailPosition(), nullptr);
    EXPECT_EQ(a.value, 1); // still alive: the list owned only the node
}

TEST(ObListTest, NodesAreRecycledAcrossManyBlocks)
{
    std::vector<Item> items;
    for (int i = 0; i < 95; ++i)
        items.emplace_back(i);
    CObList list(10);
    for (int round = 0; round < 3; ++round)
    {
        for (auto& item : items)
            list.AddTail(&item);
        ASSERT_EQ(list.GetCount(), 95);
        for (int i = 0; i < 50; ++i)
            list.RemoveHead();
        EXPECT_EQ(static_cast<Item*>(list.GetHead())->value, 50);
        list.RemoveAll();
        EXPECT_TRUE(list.IsEmpty());
    }
}

TEST(ObListTest, GetNextReturnsNullPositionAfterTheLastNode)
{
    Item a(7);
    CObList list;
    list.AddTail(&a);
    POSITION p = list.GetHeadPosition();
    EXPECT_EQ(list.GetNext(p), &a);
    EXPECT_EQ(p, nullptr);
    p = list.GetHeadPosition();
    EXPECT_EQ(list.GetPrev(p), &a);
    EXPECT_EQ(p, nullptr);
}

TEST(ObListTest, FailedNodeAllocationLeavesTheListUnchanged)
{
    Item a(1), b(2);
    CObList list(10);
    list.AddTail(&a);
    // Fill the first block so the next add needs a new one.
    std::vector<Item> filler(9, Item(0));
    for (auto& item : filler)
        list.AddTail(&item);
    genplot::detail::FailAllocationAfter(1);
    try
    {
        list.AddTail(&b);
        FAIL() << "expected CMemoryException*";
    }
    catch (CMemoryException* e)
    {
        e->Delete();
    }
    EXPECT_EQ(list.GetCount(), 10);
    EXPECT_EQ(list.GetTail(), &filler.back());
    list.AddTail(&b); // the hook fired once and is off again
    EXPECT_EQ(list.GetTail(), &b);
}

TEST(AllocationHookTest, FailsExactlyTheNthAllocationFromNow)
{
    genplot::detail::FailAllocationAfter(3);
    auto* first = new Item(1);
    auto* second = new Item(2);
    EXPECT_THROW(new Item(3), CMemoryException*);
    auto* fourth = new Item(4);
    delete first;
    delete second;
    delete fourth;
}

TEST(AllocationHookTest, MemoryExceptionIsStaticAndDeleteIsHarmless)
{
    CMemoryException* caught = nullptr;
    try
    {
        AfxThrowMemoryException();
    }
    catch (CException* e)
    {
        caught = dynamic_cast<CMemoryException*>(e);
        e->Delete();
    }
    ASSERT_NE(caught, nullptr);
    caught->Delete(); // a second Delete of the shared object must be a no-op, not a double free
}

} // namespace
