#include "platform/plot_queue.h"

#include "platform/native_path_internal.h"
#include "platform/plot_queue_internal.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

// The queue over Win32: the queue file and the unique files are C runtime descriptors, so
// failures come back as errno values exactly as on POSIX; the lock is LockFileEx on the
// descriptor's handle.

namespace
{

// errno for the Win32 errors the lock can report.
int ErrnoFromWin32(DWORD error)
{
    switch (error)
    {
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
        return EACCES;
    default:
        return EIO;
    }
}

// Win32 locks are mandatory: a lock on the records themselves would make a reader's ReadFile
// fail while a submission is being appended. So submitters lock one byte far past any data
// the queue file will hold, which excludes them from each other and from nobody else.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0;

int LockExclusive(HANDLE file)
{
    OVERLAPPED at{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at))
        return -ErrnoFromWin32(GetLastError());
    return 0;
}

void Unlock(HANDLE file)
{
    OVERLAPPED at{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &at);
}

// Writes all of `size` bytes; false on the first failure, with errno set.
bool WriteAll(int fd, const unsigned char* bytes, std::size_t size)
{
    while (size > 0)
    {
        const int written = _write(fd, bytes, static_cast<unsigned>(size));
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

std::uint64_t CandidateSeed()
{
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    return (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
           static_cast<std::uint64_t>(ticks.QuadPart);
}

// _open() flags for an fopen mode; false for a mode fopen would refuse. Text or binary as the
// mode says, so the stream _fdopen makes behaves as fopen's would.
bool OpenFlags(const char* mode, int* flags)
{
    if (!ModeOpenFlags(mode, {_O_RDONLY, _O_WRONLY, _O_RDWR, _O_APPEND}, flags))
        return false;
    *flags |= std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
    return true;
}

bool IsPlainName(const char* text)
{
    return std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr &&
           std::strchr(text, ':') == nullptr;
}

} // namespace genplot::detail

namespace
{

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Win32 refuses to create a file whose name a file still being deleted holds, and reports
// that as access denied rather than "exists"; another name is worth a try then. A folder
// that denies creation reports the same errno, but there the name is free.
bool NameIsTaken(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ||
           GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

namespace genplot::detail
{

int OpenQueueFile(const char* native, bool create)
{
    // On a first use the queue file's folder may not be there yet either.
    errno = 0;
    if (create && !MakeParentDirectories(native))
    {
        errno = ENOENT;
        return -1;
    }
    const int flags = _O_WRONLY | _O_APPEND | _O_BINARY | _O_NOINHERIT | (create ? _O_CREAT : 0);
    const int fd = _open(native, flags, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return -1;
    const int shape = CheckQueueShape(fd);
    if (shape != 0)
    {
        _close(fd);
        errno = shape;
        return -1;
    }
    return fd;
}

int CheckQueueShape(int fd)
{
    // A device or a pipe in the queue file's place is no queue.
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (GetFileType(file) != FILE_TYPE_DISK)
        return EINVAL;
    // Another submitter may be half way through its record: the submitters' lock covers the
    // append, so the size is read under it and never counts a record in progress.
    const int locked = LockExclusive(file);
    if (locked != 0)
        return -locked;
    struct _stati64 info;
    const int measured = _fstati64(fd, &info) == 0 ? 0 : (errno != 0 ? errno : EIO);
    Unlock(file);
    if (measured != 0)
        return measured;
    if ((info.st_mode & _S_IFREG) == 0)
        return EINVAL;
    return info.st_size % static_cast<__int64>(kQueueRecordSize) == 0 ? 0 : EILSEQ;
}

void CloseQueueFile(int fd)
{
    _close(fd);
}

int AppendRecord(int fd, const unsigned char* bytes, std::size_t size)
{
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    const int locked = LockExclusive(file);
    if (locked != 0)
        return locked;
    // A reader takes the queue file in 134-byte steps: a record cut short by a full disk would
    // shift every later record, so a failed write is undone before the lock is released, and a
    // file that is no longer whole records gets nothing appended. _O_APPEND moves to the end
    // before each write, and every submitter holds the lock then.
    int result = 0;
    struct _stati64 before;
    if (_fstati64(fd, &before) != 0)
    {
        result = -errno;
    }
    else if (before.st_size % static_cast<__int64>(kQueueRecordSize) != 0)
    {
        result = -EILSEQ;
    }
    else if (!WriteAll(fd, bytes, size))
    {
        result = -errno;
        if (_chsize_s(fd, before.st_size) != 0)
            result = -EIO;
    }
    // _write() leaves nothing in a buffer of ours: the record is the system's once it returns.
    Unlock(file);
    return result;
}

bool PrepareUniqueFolder(const char* directory, char (&folder)[kNativePathSize],
                         std::size_t* folderLength)
{
    if (!NativePath(directory, folder, sizeof folder) || !MakeDirectories(folder))
        return false;
    // "c:\userroot\devq\plotter\" and "c:\userroot\devq\plotter" name one folder; the root
    // "c:\" keeps its separator.
    std::size_t length = std::strlen(folder);
    while (length > 1 && IsSeparator(folder[length - 1]) && folder[length - 2] != ':')
        folder[--length] = '\0';
    *folderLength = length;
    return true;
}

void JoinUniquePath(const char* folder, std::size_t folderLength, const char* name,
                    char (&path)[kNativePathSize])
{
    const bool needsSeparator = !IsSeparator(folder[folderLength - 1]);
    std::snprintf(path, sizeof path, "%s%s%s", folder, needsSeparator ? "\\" : "", name);
}

// _O_EXCL is CREATE_NEW underneath.
int CreateNewFile(const char* path, int flags)
{
    return _open(path, flags | _O_CREAT | _O_EXCL | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

bool NameWorthRetrying(const char* path)
{
    return errno == EEXIST || (errno == EACCES && NameIsTaken(path));
}

std::FILE* StreamOnNewFile(int fd, const char* mode, const char* path)
{
    std::FILE* stream = _fdopen(fd, mode);
    if (stream == nullptr)
    {
        const int saved = errno;
        _close(fd);
        _unlink(path);
        errno = saved;
    }
    return stream;
}

} // namespace genplot::detail
