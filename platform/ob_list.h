#pragma once

#include "platform/object.h"
#include "platform/win_types.h"

#include <cassert>

namespace genplot::detail
{
struct ObListAccess;
}

/// Opaque handle to one node of a CObList; null means "no node".
struct __POSITION;
typedef __POSITION* POSITION;

/// Doubly linked list of `CObject*`. Nodes are allocated in blocks of the size given at
/// construction and recycled through a free list. Removing a node never deletes its element:
/// the list owns nodes, not elements.
class GENPLOT_API CObList : public CObject
{
  public:
    /// @param blockSize nodes per allocated block (10 everywhere in the library).
    explicit CObList(INT_PTR blockSize = 10);
    ~CObList() override;
    CObList(const CObList&) = delete;
    CObList& operator=(const CObList&) = delete;

    INT_PTR GetCount() const
    {
        return count_;
    }
    INT_PTR GetSize() const
    {
        return count_;
    }
    BOOL IsEmpty() const
    {
        return count_ == 0;
    }

    /// Head and tail elements; the list must not be empty.
    CObject*& GetHead();
    CObject* GetHead() const;
    CObject*& GetTail();
    CObject* GetTail() const;

    /// Unlink the head (tail) node and return its element; the list must not be empty.
    /// Never deletes the element.
    CObject* RemoveHead();
    CObject* RemoveTail();

    /// Add an element; may throw CMemoryException*, in which case the list is unchanged.
    POSITION AddHead(CObject* element);
    POSITION AddTail(CObject* element);
    /// Insert before (after) `position`; a null position inserts at the head (tail).
    POSITION InsertBefore(POSITION position, CObject* element);
    POSITION InsertAfter(POSITION position, CObject* element);

    /// Unlink every node and free the node blocks; never deletes the elements.
    void RemoveAll();
    /// Unlink one node; never deletes its element.
    void RemoveAt(POSITION position);
    /// Exchange the whole contents (nodes, node blocks, block size) with `other` in constant
    /// time; allocates nothing and never deletes an element. Positions keep pointing at the
    /// same elements, now in the other list.
    void Swap(CObList& other) noexcept;

    POSITION GetHeadPosition() const;
    POSITION GetTailPosition() const;
    /// Return the element at `position` and move it to the next (previous) node, null past the end.
    CObject*& GetNext(POSITION& position);
    CObject* GetNext(POSITION& position) const;
    CObject*& GetPrev(POSITION& position);
    CObject* GetPrev(POSITION& position) const;
    CObject*& GetAt(POSITION position);
    CObject* GetAt(POSITION position) const;
    void SetAt(POSITION position, CObject* element);
    /// First position holding `element` after `startAfter` (from the head when null), or null.
    POSITION Find(CObject* element, POSITION startAfter = nullptr) const;

  private:
    friend struct genplot::detail::ObListAccess;
    struct Node
    {
        Node* next;
        Node* prev;
        CObject* data;
    };
    struct Block;

    Node* NewNode(Node* prev, Node* next);
    void FreeNode(Node* node) noexcept;
    void FreeBlocks() noexcept;

    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    INT_PTR count_ = 0;
    Node* free_ = nullptr;
    Block* blocks_ = nullptr;
    INT_PTR blockSize_;
};

// Walking and reading a list are defined here, so that loops over points and pieces compile to
// a few loads instead of a call per element.

inline CObject*& CObList::GetHead()
{
    assert(head_ != nullptr);
    return head_->data;
}

inline CObject* CObList::GetHead() const
{
    assert(head_ != nullptr);
    return head_->data;
}

inline CObject*& CObList::GetTail()
{
    assert(tail_ != nullptr);
    return tail_->data;
}

inline CObject* CObList::GetTail() const
{
    assert(tail_ != nullptr);
    return tail_->data;
}

inline POSITION CObList::GetHeadPosition() const
{
    return reinterpret_cast<POSITION>(head_);
}

inline POSITION CObList::GetTailPosition() const
{
    return reinterpret_cast<POSITION>(tail_);
}

inline CObject*& CObList::GetNext(POSITION& position)
{
    Node* node = reinterpret_cast<Node*>(position);
    position = reinterpret_cast<POSITION>(node->next);
    return node->data;
}

inline CObject* CObList::GetNext(POSITION& position) const
{
    const Node* node = reinterpret_cast<const Node*>(position);
    position = reinterpret_cast<POSITION>(node->next);
    return node->data;
}

inline CObject*& CObList::GetPrev(POSITION& position)
{
    Node* node = reinterpret_cast<Node*>(position);
    position = reinterpret_cast<POSITION>(node->prev);
    return node->data;
}

inline CObject* CObList::GetPrev(POSITION& position) const
{
    const Node* node = reinterpret_cast<const Node*>(position);
    position = reinterpret_cast<POSITION>(node->prev);
    return node->data;
}

inline CObject*& CObList::GetAt(POSITION position)
{
    return reinterpret_cast<Node*>(position)->data;
}

inline CObject* CObList::GetAt(POSITION position) const
{
    return reinterpret_cast<const Node*>(position)->data;
}
