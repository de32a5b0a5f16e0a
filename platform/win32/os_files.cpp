#include "platform/os_internal.h"
#include "platform/win_types.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

// The path and descriptor primitives over Win32. Descriptors are the C runtime's, so failures
// come back as errno values exactly as on POSIX; what only a handle can do (file identity, the
// lock, the type of a file) is done on the descriptor's handle.

namespace genplot::detail
{
namespace
{

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// errno for the Win32 errors the lock and the file look can report.
int ErrnoFromWin32(DWORD error)
{
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
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

// Type, size and identity of the open `file`. A device or a pipe is no regular file and has
// no identity.
bool Describe(HANDLE file, FileFacts* facts)
{
    *facts = FileFacts{};
    if (file == INVALID_HANDLE_VALUE)
    {
        errno = EBADF;
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK)
        return true;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
    {
        errno = ErrnoFromWin32(GetLastError());
        return false;
    }
    facts->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    facts->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts->identity = {info.dwVolumeSerialNumber,
                       (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                           info.nFileIndexLow};
    return true;
}

// Win32 locks are mandatory: a lock on the records themselves would make a reader's ReadFile
// fail while a submission is being appended. So submitters lock one byte far past any data
// the queue file will hold, which excludes them from each other and from nobody else.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0;

// Win32 refuses to create a file whose name a file still being deleted holds, and reports
// that as access denied rather than "exists"; another name is worth a try then. A folder
// that denies creation reports the same errno, but there the name is free.
bool NameIsTaken(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ||
           GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

bool DriveLettersAreNative()
{
    return true;
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

char PreferredSeparator()
{
    return '\\';
}

std::size_t RootLength(const char* path)
{
    std::size_t i = 0;
    if (IsSeparator(path[0]) && IsSeparator(path[1]))
    {
        if ((path[2] == '?' || path[2] == '.') && IsSeparator(path[3]))
        {
            i = 4; // "\\?\" or "\\.\", then a drive or UNC\server\share
            if (std::strncmp(path + i, "UNC", 3) == 0 && IsSeparator(path[i + 3]))
                i += 4;
            else
                return RootLength(path + i) + i;
        }
        else
        {
            i = 2;
        }
        // server, then share
        for (int part = 0; part < 2; ++part)
        {
            while (path[i] != '\0' && !IsSeparator(path[i]))
                ++i;
            if (IsSeparator(path[i]))
                ++i;
        }
        return i;
    }
    if (path[0] != '\0' && path[1] == ':')
        i = 2;
    while (IsSeparator(path[i]))
        ++i;
    return i;
}

bool IsPlainName(const char* text)
{
    return std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr &&
           std::strchr(text, ':') == nullptr;
}

void MakeFolder(const char* path)
{
    CreateDirectoryA(path, nullptr);
}

bool IsFolder(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ResolvedPath(const char* path, char* out, std::size_t outSize)
{
    const std::size_t length = std::strlen(path);
    if (length >= outSize)
    {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(out, path, length + 1);
    return true;
}

int RenameOver(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : EACCES;
}

bool DescribeOpenFile(int fd, FileFacts* facts)
{
    return Describe(HandleOf(fd), facts);
}

int DescribeDestination(const char* path, FileFacts* facts)
{
    // Opened for writing with the share modes of fopen, so the input, open for reading, does
    // not block the look, and a destination that cannot be written is refused before anything
    // is made.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    }
    const bool described = Describe(file, facts);
    CloseHandle(file);
    // A disk file without an identity cannot be told apart from the input: it is refused.
    return described ? 0 : EEXIST;
}

int OpenForReading(const char* path)
{
    // Opening a pipe or a device does not wait on Windows; what was opened is checked after.
    return _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int OpenForWritingInPlace(const char* path)
{
    return _open(path, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

int OpenForAppending(const char* path, bool create)
{
    const int flags = _O_WRONLY | _O_APPEND | _O_BINARY | _O_NOINHERIT | (create ? _O_CREAT : 0);
    return _open(path, flags, _S_IREAD | _S_IWRITE);
}

int CreateExclusive(const char* path, const OpenMode& mode, const FileFacts*)
{
    int flags = mode.read && mode.write ? _O_RDWR : (mode.write ? _O_WRONLY : _O_RDONLY);
    if (mode.append)
        flags |= _O_APPEND;
    flags |= mode.text ? _O_TEXT : _O_BINARY;
    // _O_EXCL is CREATE_NEW underneath.
    const int fd = _open(path, flags | _O_CREAT | _O_EXCL | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EACCES && NameIsTaken(path))
        errno = EEXIST;
    return fd;
}

bool EndNonBlocking(int)
{
    return true;
}

std::FILE* StreamFromDescriptor(int fd, const char* mode)
{
    std::FILE* stream = _fdopen(fd, mode);
    if (stream == nullptr)
    {
        const int saved = errno;
        _close(fd);
        errno = saved;
    }
    return stream;
}

int DescriptorOf(std::FILE* stream)
{
    return _fileno(stream);
}

void CloseDescriptor(int fd)
{
    _close(fd);
}

long WriteSome(int fd, const unsigned char* bytes, std::size_t size)
{
    constexpr std::size_t kLargestWrite = 0x40000000;
    return _write(fd, bytes, static_cast<unsigned>(size < kLargestWrite ? size : kLargestWrite));
}

bool TruncateFile(int fd, std::uint64_t size)
{
    return _chsize_s(fd, static_cast<__int64>(size)) == 0;
}

int LockQueueFile(int fd, bool)
{
    // Taken exclusively to measure as well: submitters hold it only for the moment of an
    // append, so a measurement waits at most that long.
    OVERLAPPED at{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at))
        return ErrnoFromWin32(GetLastError());
    return 0;
}

void UnlockQueueFile(int fd)
{
    OVERLAPPED at{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(HandleOf(fd), 0, 1, 0, &at);
}

} // namespace genplot::detail
