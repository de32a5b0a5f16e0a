#include "platform/regular_file_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // O_NONBLOCK so that opening a named pipe returns at once; the type is checked on what was
    // opened, so a path switched in between cannot slip through. O_NOCTTY: a terminal opened
    // here must not become the process's controlling terminal.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
    {
        file.error = errno;
        return file;
    }
    struct stat info;
    if (fstat(fd, &info) != 0)
    {
        file.error = errno;
        close(fd);
        return file;
    }
    if (!S_ISREG(info.st_mode))
    {
        file.notRegular = true;
        close(fd);
        return file;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file.stream = fdopen(fd, "rb");
    if (file.stream == nullptr)
    {
        file.error = errno;
        close(fd);
        return file;
    }
    file.size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

} // namespace genplot::detail
