#include "support/read_fault_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

ReadFaultStream::ReadFaultStream(std::vector<std::uint8_t> bytes, std::size_t failAt)
    : bytes_(std::move(bytes)), failAt_(failAt)
{
    cookie_io_functions_t functions{};
    functions.read = &ReadFaultStream::Read;
    functions.seek = &ReadFaultStream::Seek;
    file_ = fopencookie(this, "rb", functions);
}

ReadFaultStream::~ReadFaultStream()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

ssize_t ReadFaultStream::Read(void* cookie, char* data, size_t size)
{
    auto* self = static_cast<ReadFaultStream*>(cookie);
    if (self->position_ >= self->failAt_ && self->position_ < self->bytes_.size())
    {
        ++self->failedReads_;
        errno = EIO;
        return -1;
    }
    const std::size_t end = std::min(self->bytes_.size(), std::max(self->failAt_, self->position_));
    const std::size_t count = std::min(size, end - std::min(end, self->position_));
    std::memcpy(data, self->bytes_.data() + self->position_, count);
    self->position_ += count;
    return static_cast<ssize_t>(count);
}

int ReadFaultStream::Seek(void* cookie, off64_t* offset, int whence)
{
    auto* self = static_cast<ReadFaultStream*>(cookie);
    off64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<off64_t>(self->position_);
    else if (whence == SEEK_END)
        base = static_cast<off64_t>(self->bytes_.size());
    const off64_t target = base + *offset;
    if (target < 0)
    {
        errno = EINVAL;
        return -1;
    }
    self->position_ = static_cast<std::size_t>(target);
    *offset = target;
    return 0;
}
