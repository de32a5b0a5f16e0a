#include "platform/allocation_internal.h"
#include "platform/allocation_pool_internal.h"
#include "platform/exception.h"
#include "platform/os_internal.h"

#include <cstdlib>
#include <mutex>
#include <new>

// Pages and their runs of blocks, the mailboxes that bring blocks freed on other threads back to
// their maker, and the hand-over of a thread's pages when it ends (see platform/allocation.cpp).

#if GENPLOT_POOL_ENABLED && defined(_WIN32)
#include <malloc.h>
#endif

#if GENPLOT_POOL_ENABLED

namespace genplot::detail::pools
{
namespace
{

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
        Pool& pool = ThisThreadPool();
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

} // namespace

// Out of line (and in their own file), so the fast path stays small.
void* AllocateSlow(Pool& pool, std::size_t sizeClass)
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
void FreeSlow(Pool& pool, Page* page)
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
// by its owner, so nothing here reads it after that.
void FreeRemote(Page* page, FreeBlock* block)
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

} // namespace genplot::detail::pools

#endif // GENPLOT_POOL_ENABLED

namespace genplot::detail
{

void RunWithPoolLockHeld(void (*body)(void*), void* context)
{
#if GENPLOT_POOL_ENABLED
    std::lock_guard<std::mutex> guard(pools::SharedOrphans().lock);
#endif
    body(context);
}

std::size_t PoolPageCount() noexcept
{
#if GENPLOT_POOL_ENABLED
    return pools::systemPages.load(std::memory_order_relaxed);
#else
    return 0;
#endif
}

} // namespace genplot::detail
