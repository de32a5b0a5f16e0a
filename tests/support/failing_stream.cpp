#include "support/failing_stream.h"

#include <algorithm>
#include <stdexcept>

FailingStream::FailingStream(StreamFaults faults) : faults_(faults)
{
    cookie_io_functions_t functions{};
    functions.write = &Write;
    functions.seek = &Seek;
    functions.close = &Close;
    file_ = fopencookie(this, "w+b", functions);
    if (file_ == nullptr)
    {
        throw std::runtime_error("FailingStream: fopencookie failed");
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

FailingStream::~FailingStream()
{
    std::fclose(file_);
}

ssize_t FailingStream::Write(void* cookie, const char* data, size_t size)
{
    auto* self = static_cast<FailingStream*>(cookie);
    const long count = static_cast<long>(size);
    if (self->faults_.writeBytesBeforeFailure >= 0 &&
        self->written_ + count > self->faults_.writeBytesBeforeFailure)
    {
        ++self->failedWrites_;
        return -1;
    }
    const auto end = static_cast<std::size_t>(self->position_ + count);
    if (self->bytes_.size() < end)
    {
        self->bytes_.resize(end);
    }
    std::copy(data, data + size, self->bytes_.begin() + self->position_);
    self->position_ += count;
    self->written_ += count;
    return static_cast<ssize_t>(size);
}

int FailingStream::Seek(void* cookie, off64_t* offset, int whence)
{
    auto* self = static_cast<FailingStream*>(cookie);
    if (whence == SEEK_CUR && *offset == 0)
    {
        if (self->faults_.tellsBeforeFailure >= 0 &&
            self->tells_++ >= self->faults_.tellsBeforeFailure)
        {
            ++self->failedTells_;
            return -1;
        }
        *offset = self->position_;
        return 0;
    }
    if (self->faults_.seeksBeforeFailure >= 0 && self->seeks_++ >= self->faults_.seeksBeforeFailure)
    {
        ++self->failedSeeks_;
        return -1;
    }
    long base = 0;
    if (whence == SEEK_CUR)
    {
        base = self->position_;
    }
    else if (whence == SEEK_END)
    {
        base = static_cast<long>(self->bytes_.size());
    }
    const long target = base + static_cast<long>(*offset);
    if (target < 0)
    {
        return -1;
    }
    self->position_ = target;
    *offset = target;
    return 0;
}

int FailingStream::Close(void*)
{
    return 0;
}
