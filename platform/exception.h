#pragma once

#include "platform/object.h"

/// Base of the framework's exceptions. They are thrown as pointers and released by the
/// catcher with `Delete()`, which frees heap instances and leaves static ones alone.
class GENPLOT_API CException : public CObject
{
  public:
    /// @param autoDelete true when `Delete()` must free the object (it was made with new).
    explicit CException(bool autoDelete = true) : autoDelete_(autoDelete)
    {
    }
    ~CException() override;

    /// Releases the exception; call it instead of delete.
    void Delete();

  private:
    bool autoDelete_;
};

/// Thrown (as a pointer) when an allocation fails. The thrown object is static, so throwing
/// needs no memory and `Delete()` on it does nothing.
class GENPLOT_API CMemoryException : public CException
{
  public:
    CMemoryException() : CException(false)
    {
    }
    ~CMemoryException() override;
};

/// Throws the library's shared `CMemoryException*`.
[[noreturn]] GENPLOT_API void AfxThrowMemoryException();
