#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The per-thread pools behind platform/allocation.cpp: the layout of a page and of a thread's
// pool, which the allocation entry points read on their fast path, and the slow steps
// (platform/allocation_pool.cpp) they fall back to. See allocation.cpp for the design.

#if defined(__SANITIZE_ADDRESS__)
#define GENPLOT_POOL_ENABLED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GENPLOT_POOL_ENABLED 0
#endif
#endif
#if !defined(GENPLOT_POOL_ENABLED)
#define GENPLOT_POOL_ENABLED 1
#endif

#if GENPLOT_POOL_ENABLED

namespace genplot::detail::pools
{

constexpr std::size_t kGranule = 8;
constexpr std::size_t kLargestPooled = 256;
constexpr std::size_t kClassCount = kLargestPooled / kGranule;
constexpr std::size_t kPageBytes = 64 * 1024; // also the pages' alignment
constexpr std::size_t kPageHeaderBytes = 128;
constexpr std::size_t kCachedEmptyPages = 256; // per thread (16 MiB); more go back to the system

struct FreeBlock
{
    FreeBlock* next;
};

// The mark in a page's remote list (in the low bit; blocks are 8-aligned): the page is parked
// among its owner's full pages, and the next remote free must tell the owner.
constexpr std::uintptr_t kParked = 1;

// Where remote frees tell a thread which classes have full pages with blocks to collect.
// Never freed: a remote free may reach one after its thread ended (see above).
struct Mailbox
{
    std::atomic<std::uint32_t> classes{0}; // bit c: a full page of class c got blocks back
    Mailbox* nextSpare = nullptr;
};
static_assert(kLargestPooled / kGranule <= 32, "one mailbox bit per class");

// Size 0 shares the class of size 1.
inline std::size_t ClassOf(std::size_t size)
{
    return (size + (size == 0 ? 1 : 0) - 1) / kGranule;
}

inline std::size_t ClassBytes(std::size_t sizeClass)
{
    return (sizeClass + 1) * kGranule;
}

struct Pool;

struct Page
{
    FreeBlock* free; // given back, ready to hand out again
    char* bump;      // the untouched blocks run from here ...
    char* end;       // ... to here
    std::uint32_t used;
    std::uint32_t sizeClass;
    std::atomic<Pool*> owner; // null while no thread owns the page
    // Blocks freed on other threads (a FreeBlock list), with kParked in the low bit.
    std::atomic<std::uintptr_t> remoteFree;
    // The owner's; changes only under the shared lock (or before the page has a block out).
    std::atomic<Mailbox*> mailbox;
    Page* previous; // in the owner's list of the page's class
    Page* next;
    bool full; // in the full list rather than the available one
};
static_assert(sizeof(Page) <= kPageHeaderBytes, "the header must fit before the first block");

inline Page* PageOf(void* block)
{
    return reinterpret_cast<Page*>(reinterpret_cast<std::uintptr_t>(block) &
                                   ~static_cast<std::uintptr_t>(kPageBytes - 1));
}

// Doubly linked list of pages.
struct PageList
{
    Page* head;
    Page* tail;

    void PushBack(Page* page)
    {
        page->previous = tail;
        page->next = nullptr;
        if (tail != nullptr)
            tail->next = page;
        else
            head = page;
        tail = page;
    }
    void Remove(Page* page)
    {
        if (page->previous != nullptr)
            page->previous->next = page->next;
        else
            head = page->next;
        if (page->next != nullptr)
            page->next->previous = page->previous;
        else
            tail = page->previous;
        page->previous = page->next = nullptr;
    }
};

struct Pool
{
    // Per class: pages with blocks to hand out (the head is the one in use), and full pages.
    PageList available[kClassCount];
    PageList full[kClassCount];
    Page* emptyPages; // linked through `next`
    std::size_t emptyCount;
    Mailbox* mailbox; // from the thread's first slow allocation on
};

/// The calling thread's pool (platform/allocation.cpp keeps it with the rest of the thread's
/// allocation state).
Pool& ThisThreadPool();

/// A block of `sizeClass` from a page of `pool` when its current page has none left: collects
/// what came back, moves on to another page, adopts an ended thread's page or starts a fresh
/// one. Throws CMemoryException* when the system has no page to give.
void* AllocateSlow(Pool& pool, std::size_t sizeClass);

/// After a block went back to `page` on its owner's thread, and the page was full or is now
/// empty: puts it back into use, starts it over or retires it.
void FreeSlow(Pool& pool, Page* page);

/// Gives `block` back to `page`, which another thread owns.
void FreeRemote(Page* page, FreeBlock* block);

/// Bytes of the pages in `list` that no one holds.
std::size_t HeldBytes(const PageList& list);

} // namespace genplot::detail::pools

#endif // GENPLOT_POOL_ENABLED
