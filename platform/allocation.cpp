#include "platform/allocation_internal.h"
#include "platform/exception.h"

#include <cstdlib>

namespace genplot::detail
{
namespace
{

// Per thread, so a host that assembles plots on several threads never races on the hook.
thread_local long failCountdown = 0;
thread_local unsigned long allocations = 0;

} // namespace

void* Allocate(std::size_t size)
{
    ++allocations;
    if (failCountdown > 0 && --failCountdown == 0)
        AfxThrowMemoryException();
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        AfxThrowMemoryException();
    return block;
}

void Free(void* block, std::size_t /*size*/) noexcept
{
    std::free(block);
}

void FailAllocationAfter(long n) noexcept
{
    failCountdown = n > 0 ? n : 0;
}

unsigned long AllocationCount() noexcept
{
    return allocations;
}

std::size_t PooledFreeBytes() noexcept
{
    return 0;
}

} // namespace genplot::detail
