#pragma once

#include "platform/native_path_internal.h"
#include "platform/plot_queue.h"

#include <cstddef>
#include <cstdint>

// The queue client is the same on every platform except for the system calls: how the queue
// file is locked and appended to, how a candidate name is seeded, which open flags and names the
// file system takes, and how a unique file is created. The back end supplies those
// (platform/posix/plot_queue.cpp, platform/win32/plot_queue.cpp); the record layout, the submission
// checks and the search for a unique name are shared (platform/plot_queue_common.cpp).

namespace genplot::detail
{

/// Puts each field of `record` at its offset in the stored record (see the table in
/// plot_queue.h); `out` holds kQueueRecordSize bytes.
void PutSubmission(const tag_ti_namelist_both& record, unsigned char* out);

/// Opens the queue file `native` for appending, created when missing (with its folders) if
/// `create`, without waiting on a named pipe: a descriptor, or -1 with errno set (0 when the
/// system gave no reason). A file that CheckQueueShape refuses is closed again, with its errno.
/// Supplied by the back end.
int OpenQueueFile(const char* native, bool create);

/// 0 when the file open on `fd` can be a queue file: a regular file of whole records. Else
/// EINVAL (not a regular file), EILSEQ (a size that is not a whole number of records) or the
/// errno of the failed look. Supplied by the back end.
int CheckQueueShape(int fd);

/// Lets the dispatcher refuse a queue file that is the very file it delivers.
struct PlotterQueueAccess
{
    /// When `queue` is connected to the file `file` has open, disconnects it: `responseState`
    /// becomes -EEXIST and nothing can be submitted. True when it did.
    static bool RefuseIfSameFile(CPlotterQueue& queue, std::FILE* file);
};

/// Closes a descriptor OpenQueueFile gave. Supplied by the back end.
void CloseQueueFile(int fd);

/// Appends the `size` bytes of one record to the queue file open on `fd`, under the queue's
/// exclusive lock; a failed write leaves the file as it was. 0, or a negative errno value.
/// Supplied by the back end.
int AppendRecord(int fd, const unsigned char* bytes, std::size_t size);

/// Bits that differ from process to process and from moment to moment (process id, clock), to
/// seed a candidate name. Supplied by the back end.
std::uint64_t CandidateSeed();

/// A candidate name suffix. Uniqueness comes from the exclusive create, not from here; mixing
/// in the process id and the clock only keeps two busy submitters from colliding often.
std::uint32_t NextCandidate();

/// The values of the back end's open flags that an fopen mode chooses between.
struct OpenFlagValues
{
    int readOnly;
    int writeOnly;
    int readWrite;
    int append;
};

/// The open flags for an fopen mode ("r", "w", "a", each with or without "+") out of `values`;
/// false, leaving `*flags` alone, for a mode fopen would refuse.
bool ModeOpenFlags(const char* mode, const OpenFlagValues& values, int* flags);

/// Flags for the back end's open call that match an fopen mode; false for a mode fopen would
/// refuse. Supplied by the back end.
bool OpenFlags(const char* mode, int* flags);

/// True when `text` names no folder, so it can be part of a file name. Supplied by the back end.
bool IsPlainName(const char* text);

/// Turns the host folder `directory` into the native folder the unique files go to, created
/// with its parents when missing and without the trailing separators that add nothing, and
/// sets `*folderLength`. False, with errno set, when it cannot be mapped or created. Supplied
/// by the back end.
bool PrepareUniqueFolder(const char* directory, char (&folder)[kNativePathSize],
                         std::size_t* folderLength);

/// Writes `folder` (of `folderLength` characters), a separator where one is needed, and `name`
/// into `path`; the lengths were checked to fit. Supplied by the back end.
void JoinUniquePath(const char* folder, std::size_t folderLength, const char* name,
                    char (&path)[kNativePathSize]);

/// Creates `path`, which must not exist yet, and opens it with `flags` (from OpenFlags): a
/// descriptor, or -1 with errno set. Supplied by the back end.
int CreateNewFile(const char* path, int flags);

/// After CreateNewFile failed on `path` (errno as it left it): true when another name is worth
/// a try, false when the folder itself refuses. Supplied by the back end.
bool NameWorthRetrying(const char* path);

/// A stream with fopen mode `mode` on the new file `path` open on `fd`; on failure the
/// descriptor is closed, the file removed and null returned with errno from the stream call.
/// Supplied by the back end.
std::FILE* StreamOnNewFile(int fd, const char* mode, const char* path);

} // namespace genplot::detail
