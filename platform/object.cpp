#include "platform/object.h"

#include "platform/allocation_internal.h"
#include "platform/exception.h"

CObject::~CObject() = default;

void CObject::Serialize(CArchive& /*archive*/)
{
}
void CObject::AssertValid() const
{
}
void CObject::Dump(CDumpContext& /*context*/) const
{
}

void* CObject::operator new(std::size_t size)
{
    return genplot::detail::Allocate(size);
}

void CObject::operator delete(void* block, std::size_t size) noexcept
{
    genplot::detail::Free(block, size);
}

CException::~CException() = default;

void CException::Delete()
{
    if (autoDelete_)
        delete this;
}

CMemoryException::~CMemoryException() = default;

void AfxThrowMemoryException()
{
    // Static: throwing must not need the memory that just ran out.
    static CMemoryException outOfMemory;
    throw static_cast<CMemoryException*>(&outOfMemory);
}
