#include "platform/native_path_internal.h"
#include "platform/os_internal.h"
#include "platform/regular_file_internal.h"

#include <cerrno>

namespace genplot::detail
{

RegularFile OpenRegularFile(const char* path)
{
    RegularFile file;
    if (path == nullptr || path[0] == '\0')
    {
        file.error = ENOENT;
        return file;
    }
    // Opened without waiting, so that a named pipe returns at once; the type is checked on what
    // was opened, so a path switched in between cannot slip through.
    const int fd = OpenForReading(path);
    if (fd < 0)
    {
        file.error = errno;
        return file;
    }
    FileFacts facts;
    if (!DescribeOpenFile(fd, &facts))
    {
        file.error = errno;
        CloseDescriptor(fd);
        return file;
    }
    if (!facts.regular)
    {
        file.notRegular = true;
        CloseDescriptor(fd);
        return file;
    }
    if (!EndNonBlocking(fd))
    {
        file.error = errno;
        CloseDescriptor(fd);
        return file;
    }
    file.stream = StreamFromDescriptor(fd, "rb");
    if (file.stream == nullptr)
    {
        file.error = errno;
        return file;
    }
    file.size = facts.size;
    return file;
}

std::FILE* OpenInputFile(const char* hostPath, bool* notRegular, long long* size)
{
    *notRegular = false;
    char native[kNativePathSize];
    if (!NativePath(hostPath, native, sizeof native))
    {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    const RegularFile file = OpenRegularFile(native);
    if (file.notRegular)
    {
        *notRegular = true;
        errno = EINVAL;
        return nullptr;
    }
    if (file.stream == nullptr)
    {
        errno = file.error;
        return nullptr;
    }
    *size = static_cast<long long>(file.size);
    return file.stream;
}

} // namespace genplot::detail
