#pragma once

#include <cstddef>

// The single allocation path for framework objects, list node blocks and string buffers.
// Every failure leaves as CMemoryException*, which is what lets assembly code promise that
// an out-of-memory condition never leaves a list holding a dead object.

namespace genplot::detail
{

/// Allocates `size` bytes or throws CMemoryException*.
void* Allocate(std::size_t size);
/// Allocates between 1 and `count` (at least 1) blocks of `size` bytes that follow each other
/// in memory, `size` apart, so that objects made together lie together and in order; returns
/// how many, the first at `*first`. Each block counts as one allocation (for the failure hook
/// too) and is freed on its own with Free. Throws CMemoryException* when not even one block
/// can be had.
std::size_t AllocateRun(std::size_t size, std::size_t count, void** first);
/// Frees a block from Allocate; null is ignored. `size` must be the size it was allocated with.
void Free(void* block, std::size_t size) noexcept;

/// Test hook: the `n`-th allocation from now fails (1 = the next one); 0 turns it off.
/// The hook fires once and then turns itself off. Off by default. Per thread.
void FailAllocationAfter(long n) noexcept;
/// Number of allocations made on this thread since it started (for loops over N in tests).
unsigned long AllocationCount() noexcept;
/// Bytes this thread's allocation path holds for reuse: taken from the system allocator but
/// handed out to no one. Lets a measurement of the heap tell what a plot really occupies.
std::size_t PooledFreeBytes() noexcept;
/// Pages of 64 KiB the pools of all threads hold from the system allocator, in use or cached
/// (0 when the pools are off, as under AddressSanitizer).
std::size_t PoolPageCount() noexcept;

/// Test hook: runs `body(context)` while holding the lock the threads' pools share (the one
/// that hands pages on between threads), as a thread ending or taking over pages would.
void RunWithPoolLockHeld(void (*body)(void*), void* context);

} // namespace genplot::detail
