#include "platform/allocation_internal.h"
#include "platform/exception.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

// A plot is millions of 16-byte points and 248-byte list node blocks, made and freed one at a
// time on the host's thread. The general-purpose heap rounds a 16-byte point up to 32 bytes
// and takes a longer path for each; here the small sizes come from per-thread pools
// instead: one free list per size class for blocks given back, and fresh blocks cut in turn
// from the unused tail of the newest 64 KiB chunk.
//
// Size classes are multiples of 8 bytes up to 256. A block is aligned to the largest power of
// two that divides its class size, up to 16, which is all any object of that size can need.
// Larger requests go to the general heap.
//
// A block freed on another thread than the one that made it joins that thread's free list:
// blocks only move between lists, each list belongs to one thread, so nothing is shared.
// Chunks are never handed back to the system (a plot's memory is reused by the next plot);
// when a thread ends, its free blocks go to a shared reserve that other threads draw from.
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

namespace genplot::detail
{
namespace
{

#if GENPLOT_POOL_ENABLED

constexpr std::size_t kGranule = 8;
constexpr std::size_t kLargestPooled = 256;
constexpr std::size_t kClassCount = kLargestPooled / kGranule;
constexpr std::size_t kChunkBytes = 64 * 1024;

struct FreeBlock
{
    FreeBlock* next;
};

std::size_t ClassOf(std::size_t size)
{
    return size == 0 ? 0 : (size - 1) / kGranule;
}

std::size_t ClassBytes(std::size_t sizeClass)
{
    return (sizeClass + 1) * kGranule;
}

struct Pool
{
    FreeBlock* free[kClassCount];
    char* carve; // unused tail of the newest chunk
    char* carveEnd;
    std::size_t heldBytes; // on the free lists and in the unused tail
};

#endif // GENPLOT_POOL_ENABLED

// Everything the allocation path keeps per thread, in one place so that a call looks the
// thread's storage up once. Per thread, so a host that assembles plots on several threads
// never races on the hook. Constant-initialised and trivially destructible: the fast path needs
// no guard (`PoolOwner` below hands the pooled blocks on when the thread ends).
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

// Blocks of threads that have ended, for any thread to take.
struct Reserve
{
    std::mutex lock;
    FreeBlock* free[kClassCount] = {};
    std::size_t heldBytes = 0;
};

Reserve& SharedReserve()
{
    static Reserve* reserve = new Reserve; // never destroyed: threads may end after main
    return *reserve;
}

struct PoolOwner
{
    bool active = false;
    ~PoolOwner()
    {
        Pool& pool = state.pool;
        Reserve& reserve = SharedReserve();
        std::lock_guard<std::mutex> guard(reserve.lock);
        for (std::size_t c = 0; c < kClassCount; ++c)
        {
            while (pool.free[c] != nullptr)
            {
                FreeBlock* block = pool.free[c];
                pool.free[c] = block->next;
                block->next = reserve.free[c];
                reserve.free[c] = block;
                reserve.heldBytes += ClassBytes(c);
            }
        }
        // The chunk's unused tail is too irregular to share; it stays where it is.
        pool.heldBytes = 0;
    }
};

thread_local PoolOwner poolOwner;

bool TakeFromReserve(Pool& pool, std::size_t sizeClass)
{
    Reserve& reserve = SharedReserve();
    std::lock_guard<std::mutex> guard(reserve.lock);
    FreeBlock* taken = reserve.free[sizeClass];
    if (taken == nullptr)
        return false;
    std::size_t bytes = ClassBytes(sizeClass);
    std::size_t count = 0;
    FreeBlock* last = taken;
    for (; last->next != nullptr; last = last->next)
        ++count;
    ++count;
    reserve.free[sizeClass] = nullptr;
    reserve.heldBytes -= count * bytes;
    last->next = pool.free[sizeClass];
    pool.free[sizeClass] = taken;
    pool.heldBytes += count * bytes;
    return true;
}

// A block of `bytes` from the unused tail of the newest chunk, or null when the tail is too
// short. Blocks whose size is a multiple of 16 start on a 16-byte boundary; the tail is always
// 8-aligned, since every class is a multiple of 8.
inline void* Carve(Pool& pool, std::size_t bytes)
{
    auto at = reinterpret_cast<std::uintptr_t>(pool.carve);
    if (bytes % 16 == 0)
        at = (at + 15) & ~std::uintptr_t{15};
    auto end = reinterpret_cast<std::uintptr_t>(pool.carveEnd);
    if (at + bytes > end || pool.carve == nullptr)
        return nullptr;
    // Alignment padding skipped over is lost with the block.
    pool.heldBytes -= at + bytes - reinterpret_cast<std::uintptr_t>(pool.carve);
    pool.carve = reinterpret_cast<char*>(at + bytes);
    return reinterpret_cast<void*>(at);
}

// The class's free list and the newest chunk's tail are both empty: take the blocks ended
// threads left behind, else start a new chunk. Kept out of line, so the fast path stays small.
[[gnu::noinline]] void* Refill(Pool& pool, std::size_t sizeClass)
{
    if (!poolOwner.active)
        poolOwner.active = true; // first touch registers the hand-over at thread end
    std::size_t bytes = ClassBytes(sizeClass);
    if (TakeFromReserve(pool, sizeClass))
    {
        FreeBlock* block = pool.free[sizeClass];
        pool.free[sizeClass] = block->next;
        pool.heldBytes -= bytes;
        return block;
    }
    char* chunk = static_cast<char*>(std::malloc(kChunkBytes));
    if (chunk == nullptr)
        AfxThrowMemoryException();
    // The old tail is dropped: it is shorter than one block of this class.
    if (pool.carve != nullptr)
        pool.heldBytes -= static_cast<std::size_t>(pool.carveEnd - pool.carve);
    pool.carve = chunk;
    pool.carveEnd = chunk + kChunkBytes;
    pool.heldBytes += kChunkBytes;
    return Carve(pool, bytes);
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
        if (FreeBlock* block = pool.free[sizeClass])
        {
            pool.free[sizeClass] = block->next;
            pool.heldBytes -= ClassBytes(sizeClass);
            return block;
        }
        if (void* block = Carve(pool, ClassBytes(sizeClass)))
            return block;
        return Refill(pool, sizeClass);
    }
#endif
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        AfxThrowMemoryException();
    return block;
}

void Free(void* block, std::size_t size) noexcept
{
    if (block == nullptr)
        return;
#if GENPLOT_POOL_ENABLED
    if (size <= kLargestPooled)
    {
        Pool& pool = CurrentThread()->pool;
        std::size_t sizeClass = ClassOf(size);
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = pool.free[sizeClass];
        pool.free[sizeClass] = freed;
        pool.heldBytes += ClassBytes(sizeClass);
        return;
    }
#else
    (void)size;
#endif
    std::free(block);
}

void FailAllocationAfter(long n) noexcept
{
    state.failCountdown = n > 0 ? n : 0;
}

unsigned long AllocationCount() noexcept
{
    return state.allocations;
}

std::size_t PooledFreeBytes() noexcept
{
#if GENPLOT_POOL_ENABLED
    Reserve& reserve = SharedReserve();
    std::lock_guard<std::mutex> guard(reserve.lock);
    return state.pool.heldBytes + reserve.heldBytes;
#else
    return 0;
#endif
}

} // namespace genplot::detail
