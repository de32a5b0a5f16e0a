#include "platform/plot_queue.h"

#include "platform/native_path_internal.h"
#include "platform/plot_queue_internal.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

int LockExclusive(int fd)
{
    while (flock(fd, LOCK_EX) != 0)
    {
        if (errno != EINTR)
            return -errno;
    }
    return 0;
}

// Writes all of `size` bytes; false on the first failure, with errno set.
bool WriteAll(int fd, const unsigned char* bytes, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
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

int OpenQueueFile(const char* native, bool create)
{
    // On a first use the queue file's folder may not be there yet either.
    if (create && !MakeParentDirectories(native))
        return -1;
    // O_NONBLOCK: a named pipe in the queue file's place must not hold the caller until some
    // reader comes; it is refused below anyway.
    const int fd =
        open(native, O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0)
        return -1;
    const int shape = CheckQueueShape(fd);
    const int flags = fcntl(fd, F_GETFL);
    if (shape != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    {
        close(fd);
        errno = shape != 0 ? shape : EIO;
        return -1;
    }
    return fd;
}

int CheckQueueShape(int fd)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return errno != 0 ? errno : EIO;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    // Another submitter may be half way through its record: its exclusive lock covers the
    // append, so the size is read under a shared one and never counts a record in progress.
    while (flock(fd, LOCK_SH) != 0)
    {
        if (errno != EINTR)
            return errno;
    }
    const int measured = fstat(fd, &info) == 0 ? 0 : (errno != 0 ? errno : EIO);
    flock(fd, LOCK_UN);
    if (measured != 0)
        return measured;
    return info.st_size % static_cast<off_t>(kQueueRecordSize) == 0 ? 0 : EILSEQ;
}

void CloseQueueFile(int fd)
{
    close(fd);
}

int AppendRecord(int fd, const unsigned char* bytes, std::size_t size)
{
    const int locked = LockExclusive(fd);
    if (locked != 0)
        return locked;
    // A reader takes the queue file in 134-byte steps: a record cut short by a full disk would
    // shift every later record, so a failed write is undone before the lock is released, and a
    // file that is no longer whole records (or no longer a file) gets nothing appended.
    int result = 0;
    struct stat before;
    if (fstat(fd, &before) != 0)
    {
        result = -errno;
    }
    else if (!S_ISREG(before.st_mode) || before.st_size % static_cast<off_t>(kQueueRecordSize) != 0)
    {
        result = S_ISREG(before.st_mode) ? -EILSEQ : -EINVAL;
    }
    else if (!WriteAll(fd, bytes, size))
    {
        result = -errno;
        if (ftruncate(fd, before.st_size) != 0)
            result = -EIO;
    }
    // write() leaves nothing in a buffer of ours: the record is the system's once it returns.
    flock(fd, LOCK_UN);
    return result;
}

std::uint64_t CandidateSeed()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
           (static_cast<std::uint64_t>(now.tv_sec) << 20);
}

// open() flags for an fopen mode; false for a mode fopen would refuse.
bool OpenFlags(const char* mode, int* flags)
{
    return ModeOpenFlags(mode, {O_RDONLY, O_WRONLY, O_RDWR, O_APPEND}, flags);
}

bool IsPlainName(const char* text)
{
    return std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr;
}

bool PrepareUniqueFolder(const char* directory, char (&folder)[kNativePathSize],
                         std::size_t* folderLength)
{
    if (!NativePath(directory, folder, sizeof folder) || !MakeDirectories(folder))
        return false;
    std::size_t length = std::strlen(folder);
    while (length > 1 && folder[length - 1] == '/')
        folder[--length] = '\0';
    *folderLength = length;
    return true;
}

void JoinUniquePath(const char* folder, std::size_t folderLength, const char* name,
                    char (&path)[kNativePathSize])
{
    // Composed by hand: the lengths were checked, and snprintf's truncation warning cannot see
    // that check.
    const std::size_t length = std::strlen(name);
    std::memcpy(path, folder, folderLength);
    path[folderLength] = '/';
    std::memcpy(path + folderLength + 1, name, length + 1);
}

int CreateNewFile(const char* path, int flags)
{
    return open(path, flags | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool NameWorthRetrying(const char*)
{
    return errno == EEXIST || errno == EINTR;
}

std::FILE* StreamOnNewFile(int fd, const char* mode, const char* path)
{
    std::FILE* stream = fdopen(fd, mode);
    if (stream == nullptr)
    {
        const int saved = errno;
        close(fd);
        unlink(path);
        errno = saved;
    }
    return stream;
}

} // namespace genplot::detail
