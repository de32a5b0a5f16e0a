#include "platform/plot_queue.h"

#include "platform/allocation_internal.h"
#include "platform/native_path_internal.h"

#include <atomic>
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

// Puts each field at its offset in the stored record (see the table in plot_queue.h).
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

std::uint64_t Mix(std::uint64_t x)
{
    // splitmix64 finaliser: spreads a counter over all 64 bits.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A candidate name suffix. Uniqueness comes from the exclusive create, not from here; mixing
// in the process id and the clock only keeps two busy submitters from colliding often.
std::uint32_t NextCandidate()
{
    static std::atomic<std::uint64_t> counter{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::uint64_t seed = (static_cast<std::uint64_t>(getpid()) << 32) ^
                               static_cast<std::uint64_t>(now.tv_nsec) ^
                               (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                               counter.fetch_add(1, std::memory_order_relaxed);
    return static_cast<std::uint32_t>(Mix(seed));
}

// open() flags for an fopen mode; false for a mode fopen would refuse.
bool OpenFlags(const char* mode, int* flags)
{
    if (mode == nullptr)
        return false;
    const bool update = std::strchr(mode, '+') != nullptr;
    switch (mode[0])
    {
    case 'r':
        *flags = update ? O_RDWR : O_RDONLY;
        return true;
    case 'w':
        *flags = update ? O_RDWR : O_WRONLY;
        return true;
    case 'a':
        *flags = (update ? O_RDWR : O_WRONLY) | O_APPEND;
        return true;
    default:
        return false;
    }
}

bool IsPlainName(const char* text)
{
    return std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr;
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
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | (createMode == 1 ? O_CREAT : 0);
    fd_ = open(native, flags, 0666);
    if (fd_ < 0)
        responseState = errno != 0 ? -errno : -EIO;
}

CPlotterQueue::~CPlotterQueue()
{
    if (fd_ >= 0)
        close(fd_);
}

int CPlotterQueue::MsgSubmitMedia(tag_ti_namelist_both* record)
{
    if (record == nullptr)
        return -EINVAL;
    if (fd_ < 0)
        return responseState < 0 ? static_cast<int>(responseState) : -EBADF;

    unsigned char bytes[kQueueRecordSize];
    PutSubmission(*record, bytes);

    const int locked = LockExclusive(fd_);
    if (locked != 0)
        return locked;
    // A reader takes the queue file in 134-byte steps: a record cut short by a full disk would
    // shift every later record, so a failed write is undone before the lock is released.
    int result = 0;
    struct stat before;
    if (fstat(fd_, &before) != 0)
    {
        result = -errno;
    }
    else if (!WriteAll(fd_, bytes, sizeof bytes))
    {
        result = -errno;
        if (ftruncate(fd_, before.st_size) != 0)
            result = -EIO;
    }
    // write() leaves nothing in a buffer of ours: the record is the system's once it returns.
    flock(fd_, LOCK_UN);
    return result;
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
    if (tag == nullptr)
        tag = "";
    if (extension == nullptr)
        extension = "";
    int flags = 0;
    const std::size_t extensionLength = std::strlen(extension);
    const std::size_t nameLength =
        std::strlen(tag) + 8 + (extensionLength > 0 ? 1 + extensionLength : 0);
    if (!OpenFlags(mode, &flags) || nameLength > kQueueFileNameMax || !IsPlainName(tag) ||
        !IsPlainName(extension))
    {
        errno = EINVAL;
        return nullptr;
    }

    char folder[genplot::detail::kNativePathSize];
    if (!genplot::detail::NativePath(directory, folder, sizeof folder) ||
        !genplot::detail::MakeDirectories(folder))
        return nullptr;
    std::size_t folderLength = std::strlen(folder);
    while (folderLength > 1 && folder[folderLength - 1] == '/')
        folder[--folderLength] = '\0';
    if (folderLength + 1 + nameLength >= sizeof folder)
    {
        errno = ENAMETOOLONG;
        return nullptr;
    }

    // O_EXCL makes the file system the arbiter: of two callers that pick the same name, one
    // creates it and the other gets EEXIST and tries again.
    constexpr int kAttempts = 1000;
    for (int attempt = 0; attempt < kAttempts; ++attempt)
    {
        char name[kQueueFileNameMax + 1];
        if (extensionLength > 0)
            std::snprintf(name, sizeof name, "%s%08X.%s", tag,
                          static_cast<unsigned>(NextCandidate()), extension);
        else
            std::snprintf(name, sizeof name, "%s%08X", tag, static_cast<unsigned>(NextCandidate()));
        // Composed by hand: the lengths were checked above, and snprintf's truncation warning
        // cannot see that check.
        char path[genplot::detail::kNativePathSize];
        const std::size_t length = std::strlen(name);
        std::memcpy(path, folder, folderLength);
        path[folderLength] = '/';
        std::memcpy(path + folderLength + 1, name, length + 1);

        const int fd = open(path, flags | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
        {
            if (errno == EEXIST || errno == EINTR)
                continue;
            return nullptr;
        }
        std::FILE* stream = fdopen(fd, mode);
        if (stream == nullptr)
        {
            const int saved = errno;
            close(fd);
            unlink(path);
            errno = saved;
            return nullptr;
        }
        std::memcpy(nameOut, name, std::strlen(name) + 1);
        return stream;
    }
    errno = EEXIST;
    return nullptr;
}
