#include "platform/allocation_internal.h"
#include "platform/exception.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

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

#if GENPLOT_POOL_ENABLED && defined(_WIN32)
#include <malloc.h>
#endif

namespace genplot::detail
{
namespace
{

#if GENPLOT_POOL_ENABLED

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
std::size_t ClassOf(std::size_t size)
{
    return (size + (size == 0 ? 1 : 0) - 1) / kGranule;
}

std::size_t ClassBytes(std::size_t sizeClass)
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

Page* PageOf(void* block)
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

#endif // GENPLOT_POOL_ENABLED

// Everything the allocation path keeps per thread, in one place so that a call looks the
// thread's storage up once. Per thread, so a host that assembles plots on several threads
// never races on the hook. Constant-initialised and trivially destructible: the fast path needs
// no guard (`PoolOwner` below hands the pages on when the thread ends).
struct ThreadState
{
    long failCountdown;
    unsigned long allocations;
#if GENPLOT_POOL_ENABLED
    Pool pool;
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

#if GENPLOT_POOL_ENABLED

std::atomic<std::size_t> systemPages{0};

void* SystemPage()
{
#if defined(_WIN32)
    void* page = _aligned_malloc(kPageBytes, kPageBytes);
#else
    void* page = std::aligned_alloc(kPageBytes, kPageBytes);
#endif
    if (page != nullptr)
        systemPages.fetch_add(1, std::memory_order_relaxed);
    return page;
}

void ReleaseSystemPage(Page* page)
{
    systemPages.fetch_sub(1, std::memory_order_relaxed);
#if defined(_WIN32)
    _aligned_free(page);
#else
    std::free(page);
#endif
}

// Pages of threads that have ended, per class, for any thread to adopt, and the mailboxes of
// those threads. The lock also covers every change of a page's mailbox and every remote free
// that takes a page's parked mark off.
struct Orphans
{
    std::mutex lock;
    PageList pages[kClassCount] = {};
    Mailbox* spareMailboxes = nullptr;
};

Orphans* orphansInstance = nullptr;

void LockBeforeFork()
{
    orphansInstance->lock.lock();
}

void UnlockAfterFork()
{
    orphansInstance->lock.unlock();
}

Orphans* MakeOrphans()
{
    orphansInstance = new Orphans;
    // A fork copies the calling thread only: were another thread holding the lock, the child
    // would wait for it for ever at its first allocation.
    InstallForkHandlers(LockBeforeFork, UnlockAfterFork, UnlockAfterFork);
    return orphansInstance;
}

Orphans& SharedOrphans()
{
    static Orphans* orphans = MakeOrphans(); // never destroyed: threads may end after main
    return *orphans;
}

// Sets the page up, empty, for blocks of `sizeClass`.
void Format(Page* page, std::size_t sizeClass, Pool* owner)
{
    std::size_t bytes = ClassBytes(sizeClass);
    char* first = reinterpret_cast<char*>(page) + kPageHeaderBytes;
    page->free = nullptr;
    page->bump = first;
    page->end = first + (kPageBytes - kPageHeaderBytes) / bytes * bytes;
    page->used = 0;
    page->sizeClass = static_cast<std::uint32_t>(sizeClass);
    page->owner.store(owner, std::memory_order_relaxed);
    page->remoteFree.store(0, std::memory_order_relaxed);
    page->mailbox.store(owner->mailbox, std::memory_order_relaxed);
    page->previous = page->next = nullptr;
    page->full = false;
}

// Starts a page with nothing handed out over from its first block, so it again hands blocks
// out in address order.
void Restart(Page* page)
{
    page->free = nullptr;
    page->bump = reinterpret_cast<char*>(page) + kPageHeaderBytes;
}

// Takes the blocks other threads gave back to the page, and its parked mark; true when there
// were any blocks.
bool CollectRemoteFrees(Page* page)
{
    std::uintptr_t taken = page->remoteFree.exchange(0, std::memory_order_acquire);
    auto* list = reinterpret_cast<FreeBlock*>(taken & ~kParked);
    if (list == nullptr)
        return false;
    FreeBlock* last = list;
    std::uint32_t count = 1;
    for (; last->next != nullptr; last = last->next)
        ++count;
    last->next = page->free;
    page->free = list;
    page->used -= count;
    if (page->used == 0)
        Restart(page);
    return true;
}

bool HasRoom(const Page* page)
{
    return page->free != nullptr || page->bump != page->end;
}

// Moves a page with no room to the full list, marked so that the first remote free tells the
// owner. When blocks came back meanwhile, it collects them instead and the page stays.
void Park(Pool& pool, Page* page)
{
    std::uintptr_t none = 0;
    if (!page->remoteFree.compare_exchange_strong(none, kParked, std::memory_order_acq_rel,
                                                  std::memory_order_relaxed))
    {
        CollectRemoteFrees(page);
        return;
    }
    pool.available[page->sizeClass].Remove(page);
    page->full = true;
    pool.full[page->sizeClass].PushBack(page);
}

// Takes a page off the full list, with its mark and whatever came back to it.
void Unpark(Pool& pool, Page* page)
{
    pool.full[page->sizeClass].Remove(page);
    page->full = false;
    CollectRemoteFrees(page);
    pool.available[page->sizeClass].PushBack(page);
}

// Full pages of the class that other threads gave blocks back to go back into use.
bool ReclaimFullPages(Pool& pool, std::size_t sizeClass)
{
    std::uint32_t bit = std::uint32_t{1} << sizeClass;
    if ((pool.mailbox->classes.load(std::memory_order_relaxed) & bit) == 0)
        return false;
    // Cleared before the look, so a free that lands behind it raises the bit again.
    pool.mailbox->classes.fetch_and(~bit, std::memory_order_acquire);
    bool found = false;
    for (Page* page = pool.full[sizeClass].head; page != nullptr;)
    {
        Page* next = page->next;
        if ((page->remoteFree.load(std::memory_order_relaxed) & ~kParked) != 0)
        {
            Unpark(pool, page);
            found = true;
        }
        page = next;
    }
    return found;
}

// A page with nothing handed out: kept for reuse by any class, or given back to the system.
void Retire(Pool& pool, Page* page)
{
    pool.available[page->sizeClass].Remove(page);
    page->owner.store(nullptr, std::memory_order_relaxed);
    if (pool.emptyCount < kCachedEmptyPages)
    {
        page->next = pool.emptyPages;
        pool.emptyPages = page;
        ++pool.emptyCount;
    }
    else
    {
        ReleaseSystemPage(page);
    }
}

Page* AdoptOrphan(Pool& pool, std::size_t sizeClass)
{
    Orphans& orphans = SharedOrphans();
    std::lock_guard<std::mutex> guard(orphans.lock);
    Page* page = orphans.pages[sizeClass].head;
    if (page != nullptr)
    {
        orphans.pages[sizeClass].Remove(page);
        page->mailbox.store(pool.mailbox, std::memory_order_relaxed);
        page->owner.store(&pool, std::memory_order_release);
    }
    return page;
}

// The thread's first slow allocation: a mailbox, and the hand-over of its pages at its end.
[[gnu::noinline]] void OpenPool(Pool& pool)
{
    Orphans& orphans = SharedOrphans();
    std::lock_guard<std::mutex> guard(orphans.lock);
    Mailbox* box = orphans.spareMailboxes;
    if (box != nullptr)
    {
        orphans.spareMailboxes = box->nextSpare;
        box->nextSpare = nullptr;
    }
    else
    {
        box = new (std::nothrow) Mailbox;
        if (box == nullptr)
            AfxThrowMemoryException();
    }
    // A free meant for the mailbox's last owner may have raised bits: one look for nothing.
    pool.mailbox = box;
}

Page* FreshPage(Pool& pool, std::size_t sizeClass)
{
    Page* page = pool.emptyPages;
    if (page != nullptr)
    {
        pool.emptyPages = page->next;
        --pool.emptyCount;
    }
    else
    {
        page = static_cast<Page*>(SystemPage());
        if (page == nullptr)
            AfxThrowMemoryException();
    }
    Format(page, sizeClass, &pool);
    return page;
}

struct PoolOwner
{
    bool active = false;
    ~PoolOwner()
    {
        Pool& pool = state.pool;
        Orphans& orphans = SharedOrphans();
        std::lock_guard<std::mutex> guard(orphans.lock);
        for (std::size_t c = 0; c < kClassCount; ++c)
        {
            for (PageList* list : {&pool.available[c], &pool.full[c]})
            {
                while (Page* page = list->head)
                {
                    list->Remove(page);
                    page->full = false;
                    // Unmarked, so no remote free looks for this thread's mailbox again.
                    CollectRemoteFrees(page);
                    if (page->used == 0)
                    {
                        ReleaseSystemPage(page);
                        continue;
                    }
                    // Blocks still out may come back from anywhere: the page waits for them.
                    page->mailbox.store(nullptr, std::memory_order_relaxed);
                    page->owner.store(nullptr, std::memory_order_release);
                    orphans.pages[c].PushBack(page);
                }
            }
        }
        while (Page* page = pool.emptyPages)
        {
            pool.emptyPages = page->next;
            ReleaseSystemPage(page);
        }
        pool.emptyCount = 0;
        if (pool.mailbox != nullptr)
        {
            pool.mailbox->classes.store(0, std::memory_order_relaxed);
            pool.mailbox->nextSpare = orphans.spareMailboxes;
            orphans.spareMailboxes = pool.mailbox;
            pool.mailbox = nullptr;
        }
    }
};

thread_local PoolOwner poolOwner;

// The class's current page is used up: collect what other threads gave back, move on to the
// next page with room, adopt a page of an ended thread, or start a fresh one. Kept out of line,
// so the fast path stays small.
// A page with room for the class, put at the head of its available list: one of the full
// pages that other threads gave blocks back to, else an ended thread's page, else a new one.
Page* MorePages(Pool& pool, std::size_t sizeClass)
{
    PageList& available = pool.available[sizeClass];
    if (ReclaimFullPages(pool, sizeClass) && available.head != nullptr)
        return available.head;
    if (Page* page = AdoptOrphan(pool, sizeClass))
    {
        available.PushBack(page);
        CollectRemoteFrees(page);
        if (HasRoom(page))
            return page;
        Park(pool, page);
        if (available.head != nullptr) // blocks came back while it was being parked
            return available.head;
    }
    Page* page = FreshPage(pool, sizeClass);
    available.PushBack(page);
    return page;
}

[[gnu::noinline]] void* AllocateSlow(Pool& pool, std::size_t sizeClass)
{
    if (!poolOwner.active)
    {
        OpenPool(pool);
        poolOwner.active = true; // registers the hand-over at thread end
    }
    PageList& available = pool.available[sizeClass];
    Page* page = available.head;
    while (page == nullptr || !HasRoom(page))
    {
        if (page == nullptr)
            page = MorePages(pool, sizeClass);
        else if (!CollectRemoteFrees(page))
            Park(pool, page);
        page = available.head;
    }
    ++page->used;
    if (FreeBlock* block = page->free)
    {
        page->free = block->next;
        return block;
    }
    char* block = page->bump;
    page->bump += ClassBytes(sizeClass);
    return block;
}

// A block given back on its owner's thread to a page that was full or is now empty.
[[gnu::noinline]] void FreeSlow(Pool& pool, Page* page)
{
    std::size_t c = page->sizeClass;
    if (page->full)
        Unpark(pool, page);
    if (page->used != 0)
        return;
    if (pool.available[c].head == page)
    {
        // The page in use stays; starting it over keeps its blocks in address order.
        if (page->remoteFree.load(std::memory_order_relaxed) == 0)
            Restart(page);
        return;
    }
    if (page->remoteFree.load(std::memory_order_relaxed) == 0)
        Retire(pool, page);
}

// Pushes the block onto the page's remote list. Taking a parked mark off (and telling the
// owner) happens under the shared lock: the mailbox cannot change hands meanwhile, and a fork
// never copies the step half done. Once the block is pushed, the page may be freed at any time
// by its owner, so nothing here reads it after that. Out of line, so the owner's own frees stay
// a few instructions.
[[gnu::noinline]] void FreeRemote(Page* page, FreeBlock* block)
{
    std::uintptr_t head = page->remoteFree.load(std::memory_order_relaxed);
    for (;;)
    {
        if ((head & kParked) == 0)
        {
            block->next = reinterpret_cast<FreeBlock*>(head);
            if (page->remoteFree.compare_exchange_weak(
                    head, reinterpret_cast<std::uintptr_t>(block), std::memory_order_release,
                    std::memory_order_relaxed))
                return;
            continue;
        }
        std::lock_guard<std::mutex> guard(SharedOrphans().lock);
        Mailbox* box = page->mailbox.load(std::memory_order_relaxed);
        std::uint32_t bit = std::uint32_t{1} << page->sizeClass;
        do
            block->next = reinterpret_cast<FreeBlock*>(head & ~kParked);
        while (!page->remoteFree.compare_exchange_weak(
            head, reinterpret_cast<std::uintptr_t>(block), std::memory_order_release,
            std::memory_order_relaxed));
        if ((head & kParked) != 0 && box != nullptr)
            box->classes.fetch_or(bit, std::memory_order_release);
        return;
    }
}

std::size_t HeldBytes(const PageList& list)
{
    std::size_t held = 0;
    for (const Page* page = list.head; page != nullptr; page = page->next)
    {
        std::size_t bytes = ClassBytes(page->sizeClass);
        std::size_t capacity =
            static_cast<std::size_t>(page->end - reinterpret_cast<const char*>(page) -
                                     kPageHeaderBytes) /
            bytes;
        held += (capacity - page->used) * bytes;
    }
    return held;
}

#endif // GENPLOT_POOL_ENABLED

} // namespace

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

void RunWithPoolLockHeld(void (*body)(void*), void* context)
{
#if GENPLOT_POOL_ENABLED
    std::lock_guard<std::mutex> guard(SharedOrphans().lock);
#endif
    body(context);
}

std::size_t PoolPageCount() noexcept
{
#if GENPLOT_POOL_ENABLED
    return systemPages.load(std::memory_order_relaxed);
#else
    return 0;
#endif
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
