#include "platform/os_internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The path and descriptor primitives over POSIX.

namespace genplot::detail
{
namespace
{

void Describe(const struct stat& info, FileFacts* facts)
{
    facts->regular = S_ISREG(info.st_mode);
    facts->size = static_cast<std::uint64_t>(info.st_size);
    facts->identity = {static_cast<std::uint64_t>(info.st_dev),
                       static_cast<std::uint64_t>(info.st_ino)};
    facts->permissions = static_cast<unsigned>(info.st_mode & 07777);
}

int OpenRetrying(const char* path, int flags, mode_t permissions = 0)
{
    int fd;
    do
        fd = open(path, flags | O_CLOEXEC, permissions);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

bool DriveLettersAreNative()
{
    return false;
}

bool IsSeparator(char c)
{
    return c == '/';
}

char PreferredSeparator()
{
    return '/';
}

std::size_t RootLength(const char* path)
{
    std::size_t length = 0;
    while (path[length] == '/')
        ++length;
    return length;
}

bool IsPlainName(const char* text)
{
    return std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr;
}

void MakeFolder(const char* path)
{
    (void)mkdir(path, 0777);
}

bool IsFolder(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool ResolvedPath(const char* path, char* out, std::size_t outSize)
{
    // realpath writes up to PATH_MAX bytes; a buffer of that size takes any result.
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr)
        return false;
    const std::size_t length = std::strlen(resolved);
    if (length >= outSize)
    {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(out, resolved, length + 1);
    return true;
}

int RenameOver(const char* from, const char* to)
{
    return rename(from, to) == 0 ? 0 : (errno != 0 ? errno : EIO);
}

bool DescribeOpenFile(int fd, FileFacts* facts)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return false;
    Describe(info, facts);
    return true;
}

int DescribeDestination(const char* path, FileFacts* facts)
{
    struct stat info;
    if (stat(path, &info) != 0)
        return errno != 0 ? errno : EIO;
    Describe(info, facts);
    return 0;
}

int OpenForReading(const char* path)
{
    // Without O_NONBLOCK, opening a named pipe waits for a writer, possibly forever. O_NOCTTY: a
    // terminal opened here must not become the process's controlling terminal.
    return OpenRetrying(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
}

int OpenForWritingInPlace(const char* path)
{
    return OpenRetrying(path, O_WRONLY | O_NONBLOCK | O_NOCTTY);
}

int OpenForAppending(const char* path, bool create)
{
    return OpenRetrying(path, O_WRONLY | O_APPEND | O_NONBLOCK | (create ? O_CREAT : 0), 0666);
}

int CreateExclusive(const char* path, const OpenMode& mode, const FileFacts* like)
{
    int flags = mode.read && mode.write ? O_RDWR : (mode.write ? O_WRONLY : O_RDONLY);
    if (mode.append)
        flags |= O_APPEND;
    const int fd = OpenRetrying(path, flags | O_CREAT | O_EXCL, 0666);
    // The new file is made with the umask's permissions; a replacement takes those of the file
    // it replaces.
    if (fd >= 0 && like != nullptr && like->permissions != 0666)
        (void)fchmod(fd, static_cast<mode_t>(like->permissions));
    return fd;
}

bool EndNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 &&
           ((flags & O_NONBLOCK) == 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0);
}

std::FILE* StreamFromDescriptor(int fd, const char* mode)
{
    std::FILE* stream = fdopen(fd, mode);
    if (stream == nullptr)
    {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return stream;
}

int DescriptorOf(std::FILE* stream)
{
    return fileno(stream);
}

void CloseDescriptor(int fd)
{
    close(fd);
}

long WriteSome(int fd, const unsigned char* bytes, std::size_t size)
{
    ssize_t written;
    do
        written = write(fd, bytes, size);
    while (written < 0 && errno == EINTR);
    return static_cast<long>(written);
}

bool TruncateFile(int fd, std::uint64_t size)
{
    return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

int LockQueueFile(int fd, bool exclusive)
{
    while (flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0)
    {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

void UnlockQueueFile(int fd)
{
    flock(fd, LOCK_UN);
}

} // namespace genplot::detail
