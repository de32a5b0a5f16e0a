#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The file a subcommand writes. A regular file (or a name not taken yet) appears under its
// name only when complete: it is written under a temporary name in the same folder (so the
// final rename never crosses file systems) and renamed over the target by Commit. Anything
// else (a failure, an interrupt, an exception) removes the temporary file and leaves the
// target as it was.
//
// Outputs that are not regular files are written where they are, never renamed over: a named
// pipe, a character device such as /dev/null, and standard output ("-", or a path such as
// /dev/stdout that leads to it). What was written to them cannot be taken back, so a failure
// there may leave part of the output behind. The output is refused when it is one of the
// command's input files, whatever path names it (a second link, a symbolic link, "./").

namespace genplot::tool
{

/// How the command writes its output.
enum class OutputAccess
{
    /// Front to back only: pipes and devices are written directly.
    Sequential,
    /// The writer seeks back (the plot writer does): an output that cannot seek gets the bytes
    /// through an anonymous temporary file, copied over at Commit.
    Seekable,
};

class AtomicOutputFile
{
  public:
    /// Opens the output for binary writing: "-" is standard output. Throws std::runtime_error
    /// with a one-line message naming the file when the output is one of `inputs`, is a folder
    /// or another kind of file that cannot be written, or cannot be created or opened.
    explicit AtomicOutputFile(std::string target, const std::vector<std::string>& inputs = {},
                              OutputAccess access = OutputAccess::Sequential);
    /// Discards the output unless committed.
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    std::FILE* Stream() const
    {
        return stream_;
    }
    /// The temporary file's path; empty when the output is written in place.
    const std::string& TemporaryPath() const
    {
        return temporary_;
    }
    /// True when the output goes to standard output (which then carries nothing else).
    bool IsStandardOutput() const
    {
        return standardOutput_;
    }
    /// Finishes the output: flushes, syncs and closes a temporary file and renames it to the
    /// target; copies a staged output over; flushes an output written in place. Throws
    /// std::runtime_error (after discarding what it can) when any step fails.
    void Commit();
    /// Closes the output and removes the temporary file, if any.
    void Discard() noexcept;

  private:
    void OpenTemporary();
    void OpenInPlace();
    void CommitTemporary();
    void CommitInPlace();

    std::string target_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    // In place: the output itself; `stream_` is then `staging_` when it is staged, else the
    // same stream.
    std::FILE* destination_ = nullptr;
    std::FILE* staging_ = nullptr;
    bool standardOutput_ = false;
    OutputAccess access_;
    bool done_ = false;
};

} // namespace genplot::tool
