#include "support/failing_stream.h"

#include <algorithm>
#include <stdexcept>

FailingStream::FailingStream(StreamFaults faults) : faults_(faults), position_(faults.startPosition)
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
    const long at = self->position_ - self->faults_.startPosition;
    const auto end = static_cast<std::size_t>(at + count);
    if (self->bytes_.size() < end)
    {
        self->bytes_.resize(end);
    }
    std::copy(data, data + size, self->bytes_.begin() + at);
    self->position_ += count;
    self->written_ += count;
    return static_cast<ssize_t>(size);
}

int FailingStream::Seek(void* cookie, off64_t* offset, int whence)
{
    auto* self = static_cast<FailingStream*>(cookie);
    if (whence == SEEK_CUR && *offset == 0)
    {
        const int tell = self->tells_++;
        if (self->faults_.tellsBeforeFailure >= 0 && tell >= self->faults_.tellsBeforeFailure)
        {
            ++self->failedTells_;
            return -1;
        }
        *offset = self->position_;
        return 0;
    }
    const int seek = self->seeks_++;
    if (self->faults_.seeksBeforeFailure >= 0 && seek >= self->faults_.seeksBeforeFailure)
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
        base = self->faults_.startPosition + static_cast<long>(self->bytes_.size());
    }
    const long target = base + static_cast<long>(*offset);
    if (target < self->faults_.startPosition)
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
