#pragma once

#include "platform/plot_queue.h"

#include <cstddef>
#include <cstdint>

// The queue client is the same on every platform except for the system calls: how the queue
// file is locked and appended to, how a candidate name is seeded, and which open flags and
// names the file system takes. The back end supplies those (platform/posix/plot_queue.cpp,
// platform/win32/plot_queue.cpp); the record layout, the submission checks and the candidate
// names are shared (platform/plot_queue_common.cpp).

namespace genplot::detail
{

/// Puts each field of `record` at its offset in the stored record (see the table in
/// plot_queue.h); `out` holds kQueueRecordSize bytes.
void PutSubmission(const tag_ti_namelist_both& record, unsigned char* out);

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

/// Flags for the back end's open call that match an fopen mode; false for a mode fopen would
/// refuse. Supplied by the back end.
bool OpenFlags(const char* mode, int* flags);

/// True when `text` names no folder, so it can be part of a file name. Supplied by the back end.
bool IsPlainName(const char* text);

/// The checks CreateUniqueFileName makes before it touches the file system: turns a null `tag` or
/// `extension` into "", and works out the open flags for `mode` and the length of the names it will
/// try. False, with errno EINVAL, when the mode, the tag or the extension is unusable or the name
/// would not fit a record's `fileName`.
bool CheckUniqueNameRequest(const char*& tag, const char*& extension, const char* mode, int* flags,
                            std::size_t* extensionLength, std::size_t* nameLength);

/// Writes the next candidate name, `tag`, eight hex digits and the extension (when not empty)
/// into `name`; the lengths were checked by CheckUniqueNameRequest.
void CandidateName(const char* tag, const char* extension, std::size_t extensionLength,
                   char (&name)[kQueueFileNameMax + 1]);

} // namespace genplot::detail
