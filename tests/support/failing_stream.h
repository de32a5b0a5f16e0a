#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

/// Which step of a FailingStream fails. -1 means "never".
struct StreamFaults
{
    /// Writes succeed for this many bytes in total; the write that would pass it fails whole.
    long writeBytesBeforeFailure = -1;
    /// This many repositioning seeks (SEEK_SET, SEEK_END) succeed; the next ones fail.
    int seeksBeforeFailure = -1;
    /// This many position queries (a seek of 0 from the current position) succeed.
    int tellsBeforeFailure = -1;
    /// Where the stream starts, as ftell reports it; bytes before it do not exist. Lets a test
    /// reach positions past 2 GiB without writing them.
    long startPosition = 0;
};

/// An in-memory, seekable C stream (glibc fopencookie) whose writes, seeks or position
/// queries start failing at a chosen step, for the I/O-fault paths of code that writes
/// through a FILE*. Unbuffered, so every fwrite and fseek reaches the fault at once.
class FailingStream
{
  public:
    explicit FailingStream(StreamFaults faults);
    /// Closes the stream.
    ~FailingStream();
    FailingStream(const FailingStream&) = delete;
    FailingStream& operator=(const FailingStream&) = delete;

    std::FILE* file() const
    {
        return file_;
    }
    /// What has been written so far, from the start position on.
    const std::vector<std::uint8_t>& bytes() const
    {
        return bytes_;
    }
    /// Bytes accepted by all writes together, rewrites included.
    long bytesWritten() const
    {
        return written_;
    }
    /// Repositioning seeks and position queries that reached the stream, failed ones included.
    int seekCount() const
    {
        return seeks_;
    }
    int tellCount() const
    {
        return tells_;
    }
    int failedWrites() const
    {
        return failedWrites_;
    }
    int failedSeeks() const
    {
        return failedSeeks_;
    }
    int failedTells() const
    {
        return failedTells_;
    }

  private:
    static ssize_t Write(void* cookie, const char* data, size_t size);
    static int Seek(void* cookie, off64_t* offset, int whence);
    static int Close(void* cookie);

    StreamFaults faults_;
    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> bytes_;
    long position_ = 0;
    long written_ = 0;
    int seeks_ = 0;
    int tells_ = 0;
    int failedWrites_ = 0;
    int failedSeeks_ = 0;
    int failedTells_ = 0;
};
