#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

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

/// One kind of step a FailingStream can refuse, for the loops that refuse each such step of a
/// writer in turn.
struct StreamStep
{
    /// Named in the failure output: "write", "seek", "position query".
    const char* name;
    /// How many of these steps a run took (for writes: bytes accepted).
    long (*taken)(const FailingStream& stream);
    /// Faults that let `allowed` steps through and refuse the next.
    StreamFaults (*refusedAfter)(long allowed);
    /// How many of these steps the stream refused.
    int (*refused)(const FailingStream& stream);
};

inline constexpr StreamStep kStreamWrite = {
    "write", [](const FailingStream& s) { return s.bytesWritten(); },
    [](long allowed) {
        StreamFaults faults;
        faults.writeBytesBeforeFailure = allowed;
        return faults;
    },
    [](const FailingStream& s) { return s.failedWrites(); }};

inline constexpr StreamStep kStreamSeek = {
    "seek", [](const FailingStream& s) { return static_cast<long>(s.seekCount()); },
    [](long allowed) {
        StreamFaults faults;
        faults.seeksBeforeFailure = static_cast<int>(allowed);
        return faults;
    },
    [](const FailingStream& s) { return s.failedSeeks(); }};

inline constexpr StreamStep kStreamTell = {
    "position query", [](const FailingStream& s) { return static_cast<long>(s.tellCount()); },
    [](long allowed) {
        StreamFaults faults;
        faults.tellsBeforeFailure = static_cast<int>(allowed);
        return faults;
    },
    [](const FailingStream& s) { return s.failedTells(); }};

/// The stream fault loop. `write(file)` writes something whole through `file` and returns
/// nonzero when it reports success. It runs once on a fault-free stream, which must succeed,
/// to count the steps of kind `step`; then once for each k below that count on a stream that
/// refuses the step after k of them, where it must report failure after the stream refused at
/// least once; `check(stream)` may look further. @return the count.
template <class Write, class Check>
long RefuseEachStreamStep(const StreamStep& step, Write write, Check check)
{
    long taken = 0;
    {
        FailingStream clean(StreamFaults{});
        const int result = write(clean.file());
        EXPECT_NE(result, 0) << "the fault-free run failed";
        if (result == 0)
            return 0;
        taken = step.taken(clean);
    }
    for (long allowed = 0; allowed < taken; ++allowed)
    {
        SCOPED_TRACE(testing::Message() << step.name << " refused after " << allowed);
        FailingStream stream(step.refusedAfter(allowed));
        EXPECT_EQ(write(stream.file()), 0);
        EXPECT_GE(step.refused(stream), 1);
        check(stream);
    }
    return taken;
}

/// As above, with nothing more to look at than the result and the refusal.
template <class Write> long RefuseEachStreamStep(const StreamStep& step, Write write)
{
    return RefuseEachStreamStep(step, write, [](const FailingStream&) {});
}
