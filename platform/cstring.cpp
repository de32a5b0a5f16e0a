#include "platform/cstring.h"

#include "platform/allocation_internal.h"
#include "platform/exception.h"

#include <climits>
#include <cstring>

namespace
{

// Every empty string points here, so an empty CString costs no allocation.
char emptyText[1] = {'\0'};

int CheckedLength(std::size_t length)
{
    if (length > static_cast<std::size_t>(INT_MAX - 1))
        AfxThrowMemoryException();
    return static_cast<int>(length);
}

} // namespace

CString::CString() noexcept : data_(emptyText), length_(0), capacity_(0)
{
}

CString::CString(const char* text) : CString()
{
    if (text != nullptr)
        Assign(text, CheckedLength(std::strlen(text)));
}

CString::CString(const char* text, int length) : CString()
{
    if (text != nullptr && length > 0)
        Assign(text, length);
}

CString::CString(const CString& other) : CString()
{
    Assign(other.data_, other.length_);
}

CString::CString(CString&& other) noexcept
    : data_(other.data_), length_(other.length_), capacity_(other.capacity_)
{
    other.data_ = emptyText;
    other.length_ = 0;
    other.capacity_ = 0;
}

CString::~CString()
{
    if (capacity_ != 0)
        genplot::detail::Free(data_, static_cast<std::size_t>(capacity_) + 1);
}

CString& CString::operator=(const CString& other)
{
    if (this != &other)
        Assign(other.data_, other.length_);
    return *this;
}

CString& CString::operator=(CString&& other) noexcept
{
    if (this != &other)
    {
        this->~CString();
        data_ = other.data_;
        length_ = other.length_;
        capacity_ = other.capacity_;
        other.data_ = emptyText;
        other.length_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

CString& CString::operator=(const char* text)
{
    if (text == nullptr)
    {
        Empty();
        return *this;
    }
    // The text may point into our own buffer: copy through a temporary in that case.
    if (text >= data_ && text <= data_ + length_)
    {
        CString copy(text);
        *this = static_cast<CString&&>(copy);
        return *this;
    }
    Assign(text, CheckedLength(std::strlen(text)));
    return *this;
}

CString& CString::operator+=(const CString& other)
{
    if (this == &other)
    {
        CString copy(other);
        Append(copy.data_, copy.length_);
    }
    else
    {
        Append(other.data_, other.length_);
    }
    return *this;
}

CString& CString::operator+=(const char* text)
{
    if (text != nullptr)
    {
        CString copy(text);
        Append(copy.data_, copy.length_);
    }
    return *this;
}

CString& CString::operator+=(char c)
{
    Append(&c, 1);
    return *this;
}

void CString::Empty() noexcept
{
    if (capacity_ != 0)
        genplot::detail::Free(data_, static_cast<std::size_t>(capacity_) + 1);
    data_ = emptyText;
    length_ = 0;
    capacity_ = 0;
}

void CString::Assign(const char* text, int length)
{
    if (length <= 0)
    {
        Empty();
        return;
    }
    if (length > capacity_)
    {
        // Allocate first: on failure the old contents stay intact.
        auto* buffer =
            static_cast<char*>(genplot::detail::Allocate(static_cast<std::size_t>(length) + 1));
        Empty();
        data_ = buffer;
        capacity_ = length;
    }
    std::memmove(data_, text, static_cast<std::size_t>(length));
    data_[length] = '\0';
    length_ = length;
}

void CString::Append(const char* text, int length)
{
    if (length <= 0)
        return;
    if (length > INT_MAX - 1 - length_)
        AfxThrowMemoryException();
    int total = length_ + length;
    if (total > capacity_)
    {
        int grown = capacity_ > (INT_MAX - 1) / 2 ? INT_MAX - 1 : capacity_ * 2;
        int capacity = total > grown ? total : grown;
        auto* buffer =
            static_cast<char*>(genplot::detail::Allocate(static_cast<std::size_t>(capacity) + 1));
        std::memcpy(buffer, data_, static_cast<std::size_t>(length_));
        int keep = length_;
        Empty();
        data_ = buffer;
        capacity_ = capacity;
        length_ = keep;
    }
    std::memcpy(data_ + length_, text, static_cast<std::size_t>(length));
    length_ = total;
    data_[length_] = '\0';
}

bool operator==(const CString& a, const CString& b) noexcept
{
    return a.length_ == b.length_ &&
           std::memcmp(a.data_, b.data_, static_cast<std::size_t>(a.length_)) == 0;
}

bool operator==(const CString& a, const char* b) noexcept
{
    return b != nullptr && std::strcmp(a.data_, b) == 0 &&
           std::strlen(b) == static_cast<std::size_t>(a.length_);
}
