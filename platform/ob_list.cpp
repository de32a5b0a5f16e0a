#include "platform/ob_list.h"

#include "platform/allocation_internal.h"
#include "platform/ob_list_delete_internal.h"
#include "platform/ob_list_internal.h"

#include <cassert>
#include <utility>

// A block is a header followed by blockSize_ nodes; blocks live until RemoveAll or the
// destructor, and their nodes are recycled through free_.
struct CObList::Block
{
    Block* next;
};

namespace
{

template <class Node> Node* ToNode(POSITION position)
{
    return reinterpret_cast<Node*>(position);
}

template <class Node> POSITION ToPosition(Node* node)
{
    return reinterpret_cast<POSITION>(node);
}

} // namespace

CObList::CObList(INT_PTR blockSize) : blockSize_(blockSize > 0 ? blockSize : 10)
{
}

CObList::~CObList()
{
    FreeBlocks();
}

namespace
{

// Allocates one more block and chains its nodes onto the (empty) free list. Out of line: it
// runs once per block, while NewNode runs for every element a list takes.
template <class Block, class Node>
[[gnu::noinline]] void AddBlock(Block*& blocks, Node*& free, INT_PTR blockSize)
{
    std::size_t bytes = sizeof(Block) + static_cast<std::size_t>(blockSize) * sizeof(Node);
    auto* block = static_cast<Block*>(genplot::detail::Allocate(bytes));
    block->next = blocks;
    blocks = block;
    auto* nodes = reinterpret_cast<Node*>(block + 1);
    // Chain in reverse so the free list hands the nodes out in address order.
    for (INT_PTR i = blockSize - 1; i >= 0; --i)
    {
        nodes[i].next = free;
        free = &nodes[i];
    }
}

} // namespace

inline CObList::Node* CObList::NewNode(Node* prev, Node* next)
{
    if (free_ == nullptr)
        AddBlock(blocks_, free_, blockSize_);
    Node* node = free_;
    free_ = free_->next;
    node->prev = prev;
    node->next = next;
    node->data = nullptr;
    ++count_;
    return node;
}

void CObList::FreeNode(Node* node) noexcept
{
    node->next = free_;
    free_ = node;
    --count_;
    if (count_ == 0)
        RemoveAll();
}

void CObList::FreeBlocks() noexcept
{
    std::size_t bytes = sizeof(Block) + static_cast<std::size_t>(blockSize_) * sizeof(Node);
    while (blocks_ != nullptr)
    {
        Block* next = blocks_->next;
        genplot::detail::Free(blocks_, bytes);
        blocks_ = next;
    }
    free_ = nullptr;
}

CObject* CObList::RemoveHead()
{
    assert(head_ != nullptr);
    Node* old = head_;
    CObject* element = old->data;
    head_ = old->next;
    if (head_ != nullptr)
        head_->prev = nullptr;
    else
        tail_ = nullptr;
    FreeNode(old);
    return element;
}

CObject* CObList::RemoveTail()
{
    assert(tail_ != nullptr);
    Node* old = tail_;
    CObject* element = old->data;
    tail_ = old->prev;
    if (tail_ != nullptr)
        tail_->next = nullptr;
    else
        head_ = nullptr;
    FreeNode(old);
    return element;
}

POSITION CObList::AddHead(CObject* element)
{
    Node* node = NewNode(nullptr, head_);
    node->data = element;
    if (head_ != nullptr)
        head_->prev = node;
    else
        tail_ = node;
    head_ = node;
    return ToPosition(node);
}

POSITION CObList::AddTail(CObject* element)
{
    Node* node = NewNode(tail_, nullptr);
    node->data = element;
    if (tail_ != nullptr)
        tail_->next = node;
    else
        head_ = node;
    tail_ = node;
    return ToPosition(node);
}

POSITION CObList::InsertBefore(POSITION position, CObject* element)
{
    if (position == nullptr)
        return AddHead(element);
    Node* old = ToNode<Node>(position);
    Node* node = NewNode(old->prev, old);
    node->data = element;
    if (old->prev != nullptr)
        old->prev->next = node;
    else
        head_ = node;
    old->prev = node;
    return ToPosition(node);
}

POSITION CObList::InsertAfter(POSITION position, CObject* element)
{
    if (position == nullptr)
        return AddTail(element);
    Node* old = ToNode<Node>(position);
    Node* node = NewNode(old, old->next);
    node->data = element;
    if (old->next != nullptr)
        old->next->prev = node;
    else
        tail_ = node;
    old->next = node;
    return ToPosition(node);
}

void CObList::RemoveAll()
{
    head_ = tail_ = nullptr;
    count_ = 0;
    FreeBlocks();
}

void CObList::RemoveAt(POSITION position)
{
    Node* old = ToNode<Node>(position);
    assert(old != nullptr);
    if (old->prev != nullptr)
        old->prev->next = old->next;
    else
        head_ = old->next;
    if (old->next != nullptr)
        old->next->prev = old->prev;
    else
        tail_ = old->prev;
    FreeNode(old);
}

void CObList::Swap(CObList& other) noexcept
{
    std::swap(head_, other.head_);
    std::swap(tail_, other.tail_);
    std::swap(count_, other.count_);
    std::swap(free_, other.free_);
    std::swap(blocks_, other.blocks_);
    std::swap(blockSize_, other.blockSize_);
}

namespace genplot::detail
{

CObList::Node* ObListAccess::NewBlock(CObList& list)
{
    std::size_t bytes =
        sizeof(CObList::Block) + static_cast<std::size_t>(list.blockSize_) * sizeof(CObList::Node);
    auto* block = static_cast<CObList::Block*>(Allocate(bytes));
    block->next = list.blocks_;
    list.blocks_ = block;
    return reinterpret_cast<CObList::Node*>(block + 1);
}

void DeleteAllAndRemove(CObList& list) noexcept
{
    DeleteAllAndRemove(list, [](CObject* element) { delete element; });
}

} // namespace genplot::detail

void CObList::SetAt(POSITION position, CObject* element)
{
    ToNode<Node>(position)->data = element;
}

POSITION CObList::Find(CObject* element, POSITION startAfter) const
{
    Node* node = startAfter == nullptr ? head_ : ToNode<Node>(startAfter)->next;
    for (; node != nullptr; node = node->next)
    {
        if (node->data == element)
            return ToPosition(node);
    }
    return nullptr;
}
