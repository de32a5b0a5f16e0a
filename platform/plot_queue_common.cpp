#include "platform/allocation_internal.h"
#include "platform/plot_queue.h"
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

} // namespace

namespace genplot::detail
{

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

bool ModeOpenFlags(const char* mode, const OpenFlagValues& values, int* flags)
{
    if (mode == nullptr)
        return false;
    const bool update = std::strchr(mode, '+') != nullptr;
    switch (mode[0])
    {
    case 'r':
        *flags = update ? values.readWrite : values.readOnly;
        return true;
    case 'w':
        *flags = update ? values.readWrite : values.writeOnly;
        return true;
    case 'a':
        *flags = (update ? values.readWrite : values.writeOnly) | values.append;
        return true;
    default:
        return false;
    }
}

bool PlotterQueueAccess::RefuseIfSameFile(CPlotterQueue& queue, std::FILE* file)
{
    if (queue.fd_ < 0 || !SameOpenFile(queue.fd_, file))
        return false;
    CloseQueueFile(queue.fd_);
    queue.fd_ = -1;
    queue.responseState = -EEXIST;
    return true;
}

std::uint32_t NextCandidate()
{
    static std::atomic<std::uint64_t> counter{0};
    const std::uint64_t seed = CandidateSeed() ^ counter.fetch_add(1, std::memory_order_relaxed);
    return static_cast<std::uint32_t>(Mix(seed));
}

} // namespace genplot::detail

namespace
{

// The checks CreateUniqueFileName makes before it touches the file system: a null `tag` or
// `extension` becomes "", and the open flags for `mode` and the length of the names it will
// try are worked out. False, with errno EINVAL, when the mode, the tag or the extension is
// unusable or the name would not fit a record's `fileName`.
bool CheckUniqueNameRequest(const char*& tag, const char*& extension, const char* mode, int* flags,
                            std::size_t* extensionLength, std::size_t* nameLength)
{
    if (tag == nullptr)
        tag = "";
    if (extension == nullptr)
        extension = "";
    *flags = 0;
    *extensionLength = std::strlen(extension);
    *nameLength = std::strlen(tag) + 8 + (*extensionLength > 0 ? 1 + *extensionLength : 0);
    if (!genplot::detail::OpenFlags(mode, flags) || *nameLength > kQueueFileNameMax ||
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
        genplot::detail::CloseQueueFile(fd_);
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
    int flags = 0;
    std::size_t extensionLength = 0;
    std::size_t nameLength = 0;
    if (!CheckUniqueNameRequest(tag, extension, mode, &flags, &extensionLength, &nameLength))
        return nullptr;

    char folder[genplot::detail::kNativePathSize];
    std::size_t folderLength = 0;
    if (!genplot::detail::PrepareUniqueFolder(directory, folder, &folderLength))
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
        genplot::detail::JoinUniquePath(folder, folderLength, name, path);

        const int fd = genplot::detail::CreateNewFile(path, flags);
        if (fd < 0)
        {
            if (genplot::detail::NameWorthRetrying(path))
                continue;
            return nullptr;
        }
        std::FILE* stream = genplot::detail::StreamOnNewFile(fd, mode, path);
        if (stream == nullptr)
            return nullptr;
        std::memcpy(nameOut, name, std::strlen(name) + 1);
        return stream;
    }
    errno = EEXIST;
    return nullptr;
}
