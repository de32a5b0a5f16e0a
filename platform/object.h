#pragma once

#include "platform/export.h"

#include <cstddef>

class CArchive;
class CDumpContext;

/// Common base of every framework object. Heap instances are allocated through the library's
/// single allocation path: a failure leaves as a thrown `CMemoryException*`, never as a null
/// pointer or std::bad_alloc.
class GENPLOT_API CObject
{
  public:
    virtual ~CObject();

    /// Serialisation, validity check and dump: kept as no-ops for the host's framework.
    virtual void Serialize(CArchive& archive);
    virtual void AssertValid() const;
    virtual void Dump(CDumpContext& context) const;

    static void* operator new(std::size_t size);
    /// Sized, so the allocation path learns the block size back (the virtual destructor
    /// passes the dynamic type's size).
    static void operator delete(void* block, std::size_t size) noexcept;
    /// Placement form, for objects built in storage the caller owns.
    static void* operator new(std::size_t, void* place) noexcept
    {
        return place;
    }
    static void operator delete(void*, void*) noexcept
    {
    }

  protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};
