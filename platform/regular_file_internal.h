#pragma once

#include <cstdint>
#include <cstdio>

// Files the library reads whole (plot files, the registry file) must be regular files: only
// those have a size known before reading and an end. A named pipe without a writer would block
// the reader forever, and a device such as /dev/zero never ends.

namespace genplot::detail
{

/// A file opened by OpenRegularFile.
struct RegularFile
{
    /// Open for binary reading at offset 0; null when the open was refused.
    std::FILE* stream = nullptr;
    /// The size when it was opened.
    std::uint64_t size = 0;
    /// True when the path names something other than a regular file (a folder, a named pipe,
    /// a device); `stream` is then null.
    bool notRegular = false;
    /// The errno of a failed open; 0 otherwise.
    int error = 0;
};

/// Opens the native `path` for binary reading when it is a regular file, without ever
/// blocking: a named pipe without a writer is refused at once, not waited for.
RegularFile OpenRegularFile(const char* path);

} // namespace genplot::detail
