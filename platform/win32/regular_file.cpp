#include "platform/regular_file_internal.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/types.h>

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
    // Opening a pipe or a device does not wait on Windows; what was opened is checked after.
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr)
    {
        file.error = errno;
        return file;
    }
    struct _stat64 info;
    if (_fstat64(_fileno(stream), &info) != 0)
    {
        file.error = errno;
        std::fclose(stream);
        return file;
    }
    if ((info.st_mode & _S_IFMT) != _S_IFREG)
    {
        file.notRegular = true;
        std::fclose(stream);
        return file;
    }
    file.stream = stream;
    file.size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

} // namespace genplot::detail
