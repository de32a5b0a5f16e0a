#pragma once

#include "platform/plot_queue.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The parts of the queue client that other platform code and the dispatcher use. The client is
// written once over the primitives of platform/os_internal.h (platform/plot_queue.cpp).

namespace genplot::detail
{

struct OpenMode;

/// Puts each field of `record` at its offset in the stored record (see the table in
/// plot_queue.h); `out` holds kQueueRecordSize bytes.
void PutSubmission(const tag_ti_namelist_both& record, unsigned char* out);

/// Opens the queue file `native` for appending, created when missing (with its folders) if
/// `create`, without waiting on a named pipe: a descriptor, or -1 with errno set. A file that
/// CheckQueueShape refuses is closed again, with its errno.
int OpenQueueFile(const char* native, bool create);

/// 0 when the file open on `fd` can be a queue file: a regular file of whole records. Else
/// EINVAL (not a regular file), EILSEQ (a size that is not a whole number of records) or the
/// errno of the failed look.
int CheckQueueShape(int fd);

/// Appends the `size` bytes of one record to the queue file open on `fd`, under the queue's
/// exclusive lock; a failed write leaves the file as it was. 0, or a negative errno value.
int AppendRecord(int fd, const unsigned char* bytes, std::size_t size);

/// Lets the dispatcher refuse a queue file that is the very file it delivers.
struct PlotterQueueAccess
{
    /// When `queue` is connected to the file `file` has open, disconnects it: `responseState`
    /// becomes -EEXIST and nothing can be submitted. True when it did.
    static bool RefuseIfSameFile(CPlotterQueue& queue, std::FILE* file);
};

/// A candidate name suffix. Uniqueness comes from the exclusive create, not from here; mixing
/// in the process id and the clock only keeps two busy submitters from colliding often.
std::uint32_t NextCandidate();

/// How the fopen mode `mode` ("r", "w", "a", each with or without "+" and "b") opens a file;
/// false, leaving `*openMode` alone, for a mode fopen would refuse.
bool ParseOpenMode(const char* mode, OpenMode* openMode);

} // namespace genplot::detail
