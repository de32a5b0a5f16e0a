#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

/// A seekable, read-only in-memory C stream (glibc fopencookie) over `bytes` whose reads fail
/// with EIO once the position reaches `failAt`, as a disk with a bad sector would. Seeking and
/// measuring still work, so the size is known and the header can be read first.
class ReadFaultStream
{
  public:
    ReadFaultStream(std::vector<std::uint8_t> bytes, std::size_t failAt);
    /// Closes the stream.
    ~ReadFaultStream();
    ReadFaultStream(const ReadFaultStream&) = delete;
    ReadFaultStream& operator=(const ReadFaultStream&) = delete;

    std::FILE* file() const
    {
        return file_;
    }
    int failedReads() const
    {
        return failedReads_;
    }

  private:
    static ssize_t Read(void* cookie, char* data, size_t size);
    static int Seek(void* cookie, off64_t* offset, int whence);

    std::vector<std::uint8_t> bytes_;
    std::size_t failAt_;
    std::size_t position_ = 0;
    int failedReads_ = 0;
    std::FILE* file_ = nullptr;
};
