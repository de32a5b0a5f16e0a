#pragma once

#include <cstdio>
#include <string>

// An output file that appears under its name only when complete: it is written under a
// temporary name in the same folder (so the final rename never crosses file systems) and
// renamed over the target by Commit. Anything else (a failure, an interrupt, an exception)
// removes the temporary file and leaves the target as it was.

namespace genplot::tool
{

class AtomicOutputFile
{
  public:
    /// Creates the temporary file next to `target`, open for binary writing. Throws
    /// std::runtime_error with a one-line message when it cannot be created.
    explicit AtomicOutputFile(std::string target);
    /// Discards the temporary file unless committed.
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    std::FILE* Stream() const
    {
        return stream_;
    }
    const std::string& TemporaryPath() const
    {
        return temporary_;
    }
    /// Flushes, syncs and closes the file and renames it to the target. Throws
    /// std::runtime_error (after discarding the file) when any step fails.
    void Commit();
    /// Closes and removes the temporary file.
    void Discard() noexcept;

  private:
    std::string target_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    bool done_ = false;
};

} // namespace genplot::tool
