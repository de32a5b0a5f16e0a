#pragma once

#include "platform/export.h"
#include "platform/win_types.h"

#include <cstddef>
#include <cstdio>

// The plotter queue client. A queue is a spool file of fixed-size submission records; the
// files it names lie in the plotter queue directory. Submissions are appended under an
// exclusive lock, so any number of threads and processes can submit to one queue at once.
// (Windows: the lock is LockFileEx on one byte far past the records, as Win32 locks are
// mandatory and a lock on the records would fail a reader's ReadFile; descriptors are the C
// runtime's, so failures are errno values there too.)
//
// Submission record (134 bytes, every byte not listed is 0), stored in the queue file as is:
//   offset width field
//        0    22  fileName    name of the file in the queue directory, NUL-terminated
//       22    21  baseName    the plot's name (at most 20 characters), NUL-padded
//       43     1  -           0
//       44     2  driveName   drive of the queue directory as text, "c" and its NUL
//       46     3  -           0
//       49     1  mediaKind   4: a generic plot file
//       50    14  -           0
//       64     1  copies      number of copies to plot
//       65    69  -           0

/// Longest name, NUL not counted, that `fileName` holds.
inline constexpr std::size_t kQueueFileNameMax = 21;
/// Characters of the plot's name that `baseName` holds.
inline constexpr std::size_t kQueueBaseNameMax = 20;
/// Bytes of one submission record in the queue file.
inline constexpr std::size_t kQueueRecordSize = 134;

/// One submission. Only byte arrays, so the layout has no padding on any compiler.
struct tag_ti_namelist_both
{
    char fileName[kQueueFileNameMax + 1];
    char baseName[kQueueBaseNameMax + 1];
    unsigned char reserved43[1];
    char driveName[2];
    unsigned char reserved46[3];
    unsigned char mediaKind;
    unsigned char reserved50[14];
    unsigned char copies;
    unsigned char reserved65[69];
};

static_assert(sizeof(tag_ti_namelist_both) == kQueueRecordSize);
static_assert(offsetof(tag_ti_namelist_both, baseName) == 22);
static_assert(offsetof(tag_ti_namelist_both, driveName) == 44);
static_assert(offsetof(tag_ti_namelist_both, mediaKind) == 49);
static_assert(offsetof(tag_ti_namelist_both, copies) == 64);

namespace genplot::detail
{
struct PlotterQueueAccess;
} // namespace genplot::detail

/// A client of one plotter queue. Allocated on the heap through the library's allocation
/// path: when memory runs out, `new` throws CMemoryException*.
class GENPLOT_API CPlotterQueue
{
  public:
    /// Connects to the queue file `queueFile` (host notation: on POSIX a drive-letter path maps
    /// to the drive's folder; on Windows it is the path itself). `createMode` 1 creates the queue
    /// file, and the folders that hold it, when they are missing; any other value requires it to
    /// exist. Only a regular file whose size is a whole number of 134-byte records is taken as a
    /// queue; it is opened without waiting on a named pipe, and nothing is written to it here.
    /// A failure shows in `responseState`.
    CPlotterQueue(const char* queueFile, int createMode);
    /// Closes the connection.
    ~CPlotterQueue();
    CPlotterQueue(const CPlotterQueue&) = delete;
    CPlotterQueue& operator=(const CPlotterQueue&) = delete;

    /// Appends `record` to the queue file as one 134-byte record, under an exclusive lock, and
    /// hands it to the system before returning. A record is either whole in the file or not
    /// there at all; a queue file that meanwhile stopped being whole records (-EILSEQ) or a
    /// regular file (-EINVAL) gets nothing. @return 0 when submitted, else a negative errno
    /// value (also when the client is not connected or `record` is null).
    int MsgSubmitMedia(tag_ti_namelist_both* record);

    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;

    /// 0 when connected; a negative errno value when it is not, in which case nothing can be
    /// submitted: the error of opening the queue file for appending, -EINVAL when the queue
    /// file is not a regular file (a folder, a device, a named pipe), -EILSEQ when its size is
    /// not a whole number of records, -EEXIST when the dispatcher found it to be the very file
    /// it delivers.
    LONG responseState = 0;
    /// How the caller ended the session: 0 normally, 3 when it gave up because the queue did
    /// not respond. Kept for the host's diagnostics; the client does not act on it.
    LONG completionCode = 0;

  private:
    friend struct genplot::detail::PlotterQueueAccess;
    int fd_ = -1;
};

/// Creates a new file in `directory` (host notation; created with its parents when missing)
/// under a name that no other file there has, not even one made at the same moment by
/// another thread or process, and opens it with fopen mode `mode` ("wb", "w+b", "ab", "rb").
/// The name is `tag` followed by 8 hexadecimal digits, then "." and `extension` when that is
/// given (null or empty: no extension); it never exceeds kQueueFileNameMax characters.
/// `nameOut` (at least kQueueFileNameMax + 1 bytes) receives the name without the directory.
/// @return the open stream, owned by the caller; null (and an empty `nameOut`) when the
/// directory cannot be made, the name would be too long, `mode` is not an fopen mode, or the
/// file cannot be created.
GENPLOT_API std::FILE* CreateUniqueFileName(const char* directory, const char* extension,
                                            const char* tag, char* nameOut, const char* mode);
