#pragma once

#include "platform/ob_list.h"

#include <cstddef>

namespace genplot::detail
{

/// Operations on a list's nodes for the library's own bulk paths.
struct ObListAccess
{
    /// AddTail of `count` elements in one loop; `make(i)` gives element i and is called only
    /// once its node is in hand, so a failure never leaves an element made but unlinked. May
    /// throw CMemoryException* when a node block cannot be had: elements 0 .. k-1 are then in
    /// the list and `make` was called for no other (k = GetCount() - the count before).
    template <class Make> static void AppendToTail(CObList& list, std::size_t count, Make make)
    {
        using Node = CObList::Node;
        // Kept in locals and written back only before a block is added (which may throw) and
        // at the end: stores through the nodes would otherwise force them to memory each time.
        // Nodes come from the free list first, then straight from new blocks in address order.
        Node* tail = list.tail_;
        Node* free = list.free_;
        Node* fresh = nullptr;
        Node* freshEnd = nullptr;
        INT_PTR added = 0;
        for (std::size_t i = 0; i < count; ++i)
        {
            Node* node;
            if (free != nullptr)
            {
                node = free;
                free = node->next;
            }
            else
            {
                if (fresh == freshEnd)
                {
                    list.free_ = nullptr;
                    list.tail_ = tail;
                    list.count_ += added;
                    added = 0;
                    fresh = NewBlock(list);
                    freshEnd = fresh + list.blockSize_;
                }
                node = fresh++;
            }
            node->prev = tail;
            node->next = nullptr;
            node->data = make(i);
            if (tail != nullptr)
                tail->next = node;
            else
                list.head_ = node;
            tail = node;
            ++added;
        }
        // The new block's nodes not taken go to the free list, to be handed out in order.
        while (freshEnd != fresh)
        {
            --freshEnd;
            freshEnd->next = free;
            free = freshEnd;
        }
        list.free_ = free;
        list.tail_ = tail;
        list.count_ += added;
    }

  private:
    /// One more node block, linked into the list's blocks; its nodes are on no free list yet.
    static CObList::Node* NewBlock(CObList& list);
};

} // namespace genplot::detail
