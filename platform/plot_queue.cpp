#include "platform/plot_queue.h"

#include "platform/allocation_internal.h"
#include "platform/native_path_internal.h"
#include "platform/os_internal.h"
#include "platform/plot_queue_internal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

std::uint64_t Mix(std::uint64_t x)
{
    // splitmix64 finaliser: spreads a counter over all 64 bits.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Writes all of `size` bytes; false on the first failure, with errno set.
bool WriteAll(int fd, const unsigned char* bytes, std::size_t size)
{
    while (size > 0)
    {
        const long written = genplot::detail::WriteSome(fd, bytes, size);
        if (written < 0)
            return false;
        if (written == 0)
        {
            errno = ENOSPC;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

namespace genplot::detail
{

bool PlotterQueueAccess::RefuseIfSameFile(CPlotterQueue& queue, std::FILE* file)
{
    if (queue.fd_ < 0 || !SameOpenFile(queue.fd_, file))
        return false;
    CloseDescriptor(queue.fd_);
    queue.fd_ = -1;
    queue.responseState = -EEXIST;
    return true;
}

std::uint32_t NextCandidate()
{
    static std::atomic<std::uint64_t> counter{0};
    const std::uint64_t seed =
        ProcessAndClockBits() ^ counter.fetch_add(1, std::memory_order_relaxed);
    return static_cast<std::uint32_t>(Mix(seed));
}

namespace
{

// Puts each field of `record` at its offset in the stored record (see the table in
// plot_queue.h); `out` holds kQueueRecordSize bytes.
void PutSubmission(const tag_ti_namelist_both& record, unsigned char* out)
{
    std::memset(out, 0, kQueueRecordSize);
    std::memcpy(out + 0, record.fileName, sizeof record.fileName);
    std::memcpy(out + 22, record.baseName, sizeof record.baseName);
    std::memcpy(out + 43, record.reserved43, sizeof record.reserved43);
    std::memcpy(out + 44, record.driveName, sizeof record.driveName);
    std::memcpy(out + 46, record.reserved46, sizeof record.reserved46);
    out[49] = record.mediaKind;
    std::memcpy(out + 50, record.reserved50, sizeof record.reserved50);
    out[64] = record.copies;
    std::memcpy(out + 65, record.reserved65, sizeof record.reserved65);
}

// How the fopen mode `mode` ("r", "w", "a", each with or without "+" and "b") opens a file;
// false, leaving `*openMode` alone, for a mode fopen would refuse.
bool ParseOpenMode(const char* mode, OpenMode* openMode)
{
    if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a'))
        return false;
    const bool update = std::strchr(mode, '+') != nullptr;
    *openMode = OpenMode{};
    openMode->read = mode[0] == 'r' || update;
    openMode->write = mode[0] != 'r' || update;
    openMode->append = mode[0] == 'a';
    // Text or binary as the mode says, so the stream over the descriptor behaves as fopen's
    // would.
    openMode->text = std::strchr(mode, 'b') == nullptr;
    return true;
}

// 0 when the file open on `fd` can be a queue file: a regular file of whole records. Else
// EINVAL (not a regular file), EILSEQ (a size that is not a whole number of records) or the
// errno of the failed look.
int CheckQueueShape(int fd)
{
    FileFacts facts;
    if (!DescribeOpenFile(fd, &facts))
        return errno != 0 ? errno : EIO;
    if (!facts.regular)
        return EINVAL;
    // Another submitter may be half way through its record: its lock covers the append, so the
    // size is read under the submitters' lock and never counts a record in progress.
    const int locked = LockQueueFile(fd, false);
    if (locked != 0)
        return locked;
    const int measured = DescribeOpenFile(fd, &facts) ? 0 : (errno != 0 ? errno : EIO);
    UnlockQueueFile(fd);
    if (measured != 0)
        return measured;
    return facts.size % kQueueRecordSize == 0 ? 0 : EILSEQ;
}

// Opens the queue file `native` for appending, created when missing (with its folders) if
// `create`: a descriptor, or -1 with errno set. A file that CheckQueueShape refuses is closed
// again, with its errno.
int OpenQueueFile(const char* native, bool create)
{
    // On a first use the queue file's folder may not be there yet either.
    errno = 0;
    if (create && !MakeParentDirectories(native))
    {
        if (errno == 0)
            errno = ENOENT;
        return -1;
    }
    // Opened without waiting: a named pipe in the queue file's place must not hold the caller
    // until some reader comes; it is refused below anyway.
    const int fd = OpenForAppending(native, create);
    if (fd < 0)
        return -1;
    int problem = CheckQueueShape(fd);
    if (problem == 0 && !EndNonBlocking(fd))
        problem = EIO;
    if (problem != 0)
    {
        CloseDescriptor(fd);
        errno = problem;
        return -1;
    }
    return fd;
}

// Appends the `size` bytes of one record to the queue file open on `fd`, under the queue's
// exclusive lock; a failed write leaves the file as it was. 0, or a negative errno value.
int AppendRecord(int fd, const unsigned char* bytes, std::size_t size)
{
    const int locked = LockQueueFile(fd, true);
    if (locked != 0)
        return -locked;
    // A reader takes the queue file in 134-byte steps: a record cut short by a full disk would
    // shift every later record, so a failed write is undone before the lock is released, and a
    // file that is no longer whole records (or no longer a file) gets nothing appended. The
    // file is open for appending, so each write goes to the end, and every submitter holds the
    // lock then.
    int result = 0;
    FileFacts before;
    if (!DescribeOpenFile(fd, &before))
        result = errno != 0 ? -errno : -EIO;
    else if (!before.regular)
        result = -EINVAL;
    else if (before.size % kQueueRecordSize != 0)
        result = -EILSEQ;
    else if (!WriteAll(fd, bytes, size))
    {
        result = errno != 0 ? -errno : -EIO;
        if (!TruncateFile(fd, before.size))
            result = -EIO;
    }
    // A write leaves nothing in a buffer of ours: the record is the system's once it returns.
    UnlockQueueFile(fd);
    return result;
}

} // namespace
} // namespace genplot::detail

namespace
{

// The checks CreateUniqueFileName makes before it touches the file system: a null `tag` or
// `extension` becomes "", and how `mode` opens the file and the length of the names it will
// try are worked out. False, with errno EINVAL, when the mode, the tag or the extension is
// unusable or the name would not fit a record's `fileName`.
bool CheckUniqueNameRequest(const char*& tag, const char*& extension, const char* mode,
                            genplot::detail::OpenMode* openMode, std::size_t* extensionLength,
                            std::size_t* nameLength)
{
    if (tag == nullptr)
        tag = "";
    if (extension == nullptr)
        extension = "";
    *extensionLength = std::strlen(extension);
    *nameLength = std::strlen(tag) + 8 + (*extensionLength > 0 ? 1 + *extensionLength : 0);
    if (!genplot::detail::ParseOpenMode(mode, openMode) || *nameLength > kQueueFileNameMax ||
        !genplot::detail::IsPlainName(tag) || !genplot::detail::IsPlainName(extension))
    {
        errno = EINVAL;
        return false;
    }
    return true;
}

// Writes the next candidate name, `tag`, eight hex digits and the extension (when not empty)
// into `name`; the lengths were checked by CheckUniqueNameRequest.
void CandidateName(const char* tag, const char* extension, std::size_t extensionLength,
                   char (&name)[kQueueFileNameMax + 1])
{
    if (extensionLength > 0)
        std::snprintf(name, sizeof name, "%s%08X.%s", tag,
                      static_cast<unsigned>(genplot::detail::NextCandidate()), extension);
    else
        std::snprintf(name, sizeof name, "%s%08X", tag,
                      static_cast<unsigned>(genplot::detail::NextCandidate()));
}

// Turns the host folder `directory` into the native folder the unique files go to, created
// with its parents when missing and without the trailing separators that add nothing
// ("c:\userroot\devq\plotter\" and "c:\userroot\devq\plotter" name one folder; a root
// keeps its own), and sets `*folderLength`. False, with errno set, when it cannot be mapped or
// made.
bool PrepareUniqueFolder(const char* directory, char (&folder)[genplot::detail::kNativePathSize],
                         std::size_t* folderLength)
{
    if (!genplot::detail::NativePath(directory, folder, sizeof folder) ||
        !genplot::detail::MakeDirectories(folder))
        return false;
    std::size_t length = std::strlen(folder);
    const std::size_t root = genplot::detail::RootLength(folder);
    while (length > 1 && length > root && genplot::detail::IsSeparator(folder[length - 1]))
        folder[--length] = '\0';
    *folderLength = length;
    return true;
}

// Writes `folder` (of `folderLength` characters), a separator where one is needed, and `name`
// into `path`; the lengths were checked to fit.
void JoinUniquePath(const char* folder, std::size_t folderLength, const char* name,
                    char (&path)[genplot::detail::kNativePathSize])
{
    // Composed by hand: the lengths were checked, and snprintf's truncation warning cannot see
    // that check.
    std::memcpy(path, folder, folderLength);
    if (!genplot::detail::IsSeparator(folder[folderLength - 1]))
        path[folderLength++] = genplot::detail::PreferredSeparator();
    std::memcpy(path + folderLength, name, std::strlen(name) + 1);
}

} // namespace

CPlotterQueue::CPlotterQueue(const char* queueFile, int createMode)
{
    char native[genplot::detail::kNativePathSize];
    if (!genplot::detail::NativePath(queueFile, native, sizeof native))
    {
        responseState = -ENOENT;
        return;
    }
    fd_ = genplot::detail::OpenQueueFile(native, createMode == 1);
    if (fd_ < 0)
        responseState = errno != 0 ? -errno : -EIO;
}

CPlotterQueue::~CPlotterQueue()
{
    if (fd_ >= 0)
        genplot::detail::CloseDescriptor(fd_);
}

int CPlotterQueue::MsgSubmitMedia(tag_ti_namelist_both* record)
{
    if (record == nullptr)
        return -EINVAL;
    if (fd_ < 0)
        return responseState < 0 ? static_cast<int>(responseState) : -EBADF;

    unsigned char bytes[kQueueRecordSize];
    genplot::detail::PutSubmission(*record, bytes);
    return genplot::detail::AppendRecord(fd_, bytes, sizeof bytes);
}

void* CPlotterQueue::operator new(std::size_t size)
{
    return genplot::detail::Allocate(size);
}

void CPlotterQueue::operator delete(void* block, std::size_t size) noexcept
{
    genplot::detail::Free(block, size);
}

std::FILE* CreateUniqueFileName(const char* directory, const char* extension, const char* tag,
                                char* nameOut, const char* mode)
{
    if (nameOut == nullptr)
        return nullptr;
    nameOut[0] = '\0';
    genplot::detail::OpenMode openMode;
    std::size_t extensionLength = 0;
    std::size_t nameLength = 0;
    if (!CheckUniqueNameRequest(tag, extension, mode, &openMode, &extensionLength, &nameLength))
        return nullptr;

    char folder[genplot::detail::kNativePathSize];
    std::size_t folderLength = 0;
    if (!PrepareUniqueFolder(directory, folder, &folderLength))
        return nullptr;
    if (folderLength + 1 + nameLength >= sizeof folder)
    {
        errno = ENAMETOOLONG;
        return nullptr;
    }

    // An exclusive create makes the file system the arbiter: of two callers that pick the same
    // name, one creates it and the other gets EEXIST and tries again.
    constexpr int kAttempts = 1000;
    for (int attempt = 0; attempt < kAttempts; ++attempt)
    {
        char name[kQueueFileNameMax + 1];
        CandidateName(tag, extension, extensionLength, name);
        char path[genplot::detail::kNativePathSize];
        JoinUniquePath(folder, folderLength, name, path);

        const int fd = genplot::detail::CreateExclusive(path, openMode);
        if (fd < 0)
        {
            if (errno == EEXIST)
                continue;
            return nullptr;
        }
        std::FILE* stream = genplot::detail::StreamFromDescriptor(fd, mode);
        if (stream == nullptr)
        {
            const int saved = errno;
            std::remove(path);
            errno = saved;
            return nullptr;
        }
        std::memcpy(nameOut, name, std::strlen(name) + 1);
        return stream;
    }
    errno = EEXIST;
    return nullptr;
}
