#include "platform/allocation_internal.h"
#include "platform/allocation_pool_internal.h"
#include "platform/exception.h"

#include <cstdint>
#include <cstdlib>

// A plot is millions of 16-byte points and 248-byte list node blocks, made and freed one at a
// time on the host's thread. The general-purpose heap rounds a 16-byte point up to 32 bytes
// and takes a longer path for each; here the small sizes come from per-thread pools instead.
//
// Size classes are multiples of 8 bytes up to 256. Each class draws from 64 KiB pages that hold
// blocks of that class only, after a 128-byte page header; a block is aligned to the largest
// power of two that divides its class size, up to 16, which is all any object of that size can
// need. Larger requests go to the general heap.
//
// A page hands out its untouched blocks in address order, then the blocks given back to it.
// Blocks are taken from one page at a time, so the objects of a line lie together, and a page
// whose blocks have all come back is reused from its start or, past a cache of 16 MiB a thread,
// returned to the system: after a plot is destroyed the next one again gets memory in address
// order, and a process does not keep the memory of its largest plot for ever. The cache is
// sized for the next plot's start: memory the system hands back costs a page fault per 4 KiB at
// first touch, which is most of the time of a pass that makes 16 MiB of points.
//
// A page belongs to the thread that made it. That thread takes blocks from it and gives them
// back without any synchronisation; a block freed on another thread is pushed onto the page's
// atomic list of remote frees, which the owner collects when the page runs dry. A page with no
// room left is parked in the owner's list of full pages with a mark in its remote list; the
// first remote free to such a page takes the mark off and raises the page's class in the
// owner's mailbox, so the owner looks through its full pages again before it asks the system
// for more: memory freed on any thread comes back to its maker. When a thread ends, its pages
// go to a shared list that other threads adopt from, and its mailbox to a list of spares (a
// mailbox is never freed, so a remote free may still write to one that changed hands: the new
// owner merely looks through its full pages once for nothing). A fork waits for the shared
// lists' lock, so the child never inherits it held.
//
// Under AddressSanitizer every request goes to the general heap, so that use-after-free and
// overflows of framework objects stay visible to it.
//
// This file holds the entry points and the per-thread state; the pages, mailboxes and the
// hand-over between threads are in platform/allocation_pool.cpp.

namespace genplot::detail
{
namespace
{

// Everything the allocation path keeps per thread, in one place so that a call looks the
// thread's storage up once. Per thread, so a host that assembles plots on several threads
// never races on the hook. Constant-initialised and trivially destructible: the fast path needs
// no guard (`PoolOwner` in allocation_pool.cpp hands the pages on when the thread ends).
struct ThreadState
{
    long failCountdown;
    unsigned long allocations;
#if GENPLOT_POOL_ENABLED
    pools::Pool pool;
#endif
};

thread_local ThreadState state = {};

// The calling thread's state, looked up once per call. In a shared library every lookup is a
// call into the dynamic linker, and compilers otherwise repeat it at each use.
inline ThreadState* CurrentThread()
{
    ThreadState* thread = &state;
#if defined(__GNUC__)
    asm("" : "+r"(thread));
#endif
    return thread;
}

} // namespace

#if GENPLOT_POOL_ENABLED
using namespace pools;

Pool& pools::ThisThreadPool()
{
    return CurrentThread()->pool;
}
#endif

void* Allocate(std::size_t size)
{
    ThreadState& thread = *CurrentThread();
    ++thread.allocations;
    if (thread.failCountdown > 0 && --thread.failCountdown == 0)
        AfxThrowMemoryException();
#if GENPLOT_POOL_ENABLED
    if (size <= kLargestPooled)
    {
        Pool& pool = thread.pool;
        std::size_t sizeClass = ClassOf(size);
        if (Page* page = pool.available[sizeClass].head)
        {
            if (FreeBlock* block = page->free)
            {
                page->free = block->next;
                ++page->used;
                return block;
            }
            if (page->bump != page->end)
            {
                char* block = page->bump;
                page->bump += ClassBytes(sizeClass);
                ++page->used;
                return block;
            }
        }
        return AllocateSlow(pool, sizeClass);
    }
#endif
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        AfxThrowMemoryException();
    return block;
}

std::size_t AllocateRun(std::size_t size, std::size_t count, void** first)
{
#if GENPLOT_POOL_ENABLED
    if (count > 1 && size <= kLargestPooled)
    {
        ThreadState& thread = *CurrentThread();
        std::size_t sizeClass = ClassOf(size);
        std::size_t bytes = ClassBytes(sizeClass);
        Page* page = thread.pool.available[sizeClass].head;
        if (page != nullptr && page->bump != page->end)
        {
            std::size_t run = static_cast<std::size_t>(page->end - page->bump) / bytes;
            if (run > count)
                run = count;
            // The failure hook fires at its own block: the run stops short of it.
            if (thread.failCountdown > 0 && static_cast<std::size_t>(thread.failCountdown) <= run)
                run = static_cast<std::size_t>(thread.failCountdown) - 1;
            if (run > 0)
            {
                if (thread.failCountdown > 0)
                    thread.failCountdown -= static_cast<long>(run);
                thread.allocations += run;
                *first = page->bump;
                page->bump += run * bytes;
                page->used += static_cast<std::uint32_t>(run);
                return run;
            }
        }
    }
#else
    (void)count;
#endif
    *first = Allocate(size);
    return 1;
}

void Free(void* block, std::size_t size) noexcept
{
    if (block == nullptr)
        return;
#if GENPLOT_POOL_ENABLED
    if (size <= kLargestPooled)
    {
        Pool& pool = CurrentThread()->pool;
        Page* page = PageOf(block);
        auto* freed = static_cast<FreeBlock*>(block);
        if (page->owner.load(std::memory_order_relaxed) != &pool)
        {
            FreeRemote(page, freed);
            return;
        }
        freed->next = page->free;
        page->free = freed;
        if (--page->used == 0 || page->full)
            FreeSlow(pool, page);
        return;
    }
#else
    (void)size;
#endif
    std::free(block);
}

void FailAllocationAfter(long n) noexcept
{
    CurrentThread()->failCountdown = n > 0 ? n : 0;
}

unsigned long AllocationCount() noexcept
{
    return CurrentThread()->allocations;
}

std::size_t PooledFreeBytes() noexcept
{
#if GENPLOT_POOL_ENABLED
    // Blocks not handed out on this thread's pages, and its cached empty pages. Page headers
    // and the unusable tail of a page count as in use: they are part of what objects cost.
    const Pool& pool = CurrentThread()->pool;
    std::size_t held = pool.emptyCount * kPageBytes;
    for (std::size_t c = 0; c < kClassCount; ++c)
        held += HeldBytes(pool.available[c]) + HeldBytes(pool.full[c]);
    return held;
#else
    return 0;
#endif
}

} // namespace genplot::detail
