#pragma once

#include "platform/export.h"
#include "platform/win_types.h"

/// The framework's 8-bit string. Holds any bytes, embedded NULs included, and always keeps a
/// terminating NUL after them. Buffers come from the library's allocation path, so running
/// out of memory throws CMemoryException*.
class GENPLOT_API CString
{
  public:
    CString() noexcept;
    CString(const char* text);
    CString(const char* text, int length);
    CString(const CString& other);
    CString(CString&& other) noexcept;
    ~CString();

    CString& operator=(const CString& other);
    CString& operator=(CString&& other) noexcept;
    CString& operator=(const char* text);
    CString& operator+=(const CString& other);
    CString& operator+=(const char* text);
    CString& operator+=(char c);

    int GetLength() const noexcept
    {
        return length_;
    }
    BOOL IsEmpty() const noexcept
    {
        return length_ == 0;
    }
    void Empty() noexcept;
    char GetAt(int index) const
    {
        return data_[index];
    }
    char operator[](int index) const
    {
        return data_[index];
    }
    const char* GetString() const noexcept
    {
        return data_;
    }
    operator const char*() const noexcept
    {
        return data_;
    }

#if defined(_WIN32)
// windows.h maps LoadString to LoadStringA or LoadStringW by UNICODE. The member keeps one
// name, exported as CString::LoadString whatever the host's setting, and the two spellings
// the macro produces in a host's code forward to it.
#pragma push_macro("LoadString")
#undef LoadString
#endif
    /// Loads text number `id` from the library's own string table; FALSE (and an empty
    /// string) when the table has no such entry.
    BOOL LoadString(UINT id);
#if defined(_WIN32)
    BOOL LoadStringA(UINT id)
    {
        return LoadString(id);
    }
    BOOL LoadStringW(UINT id)
    {
        return LoadString(id);
    }
#pragma pop_macro("LoadString")
#endif

    // Exported explicitly: a friend declared in the class does not take the class's visibility.
    friend GENPLOT_API bool operator==(const CString& a, const CString& b) noexcept;
    friend GENPLOT_API bool operator==(const CString& a, const char* b) noexcept;
    friend bool operator!=(const CString& a, const CString& b) noexcept
    {
        return !(a == b);
    }
    friend bool operator!=(const CString& a, const char* b) noexcept
    {
        return !(a == b);
    }

  private:
    void Assign(const char* text, int length);
    void Append(const char* text, int length);

    char* data_;
    int length_;
    int capacity_; // bytes available for characters, excluding the NUL; 0 for the shared empty
};
