#include "platform/native_path_internal.h"
#include "platform/os_internal.h"

#include <cerrno>
#include <cstdio>

// The destination of a copy is replaced only by a complete copy: written under a temporary
// name beside it (so the final rename stays on one file system and is atomic), then moved over
// it. Devices and named pipes have no such name and are written in place.

namespace genplot::detail
{
namespace
{

// A device or a named pipe that exists: written where it is. Opened without waiting for a
// pipe's reader (ENXIO when there is none); the writes themselves block again.
bool OpenInPlace(const char* native, const FileIdentity& source, OutputFile* output)
{
    const int fd = OpenForWritingInPlace(native);
    if (fd < 0)
        return false;
    // The path may have been switched to the input since it was looked at.
    FileFacts opened;
    const bool usable = DescribeOpenFile(fd, &opened) && EndNonBlocking(fd);
    if (!usable || SameFile(opened.identity, source))
    {
        const int saved = usable ? EEXIST : errno;
        CloseDescriptor(fd);
        errno = saved;
        return false;
    }
    output->stream = StreamFromDescriptor(fd, "wb");
    if (output->stream == nullptr)
        return false;
    output->replaces = false;
    return true;
}

} // namespace

bool OpenOutputFile(const char* hostPath, std::FILE* input, OutputFile* output)
{
    *output = OutputFile{};
    char native[kNativePathSize];
    if (input == nullptr || !NativePath(hostPath, native, sizeof native))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    FileFacts source;
    if (!DescribeOpenFile(DescriptorOf(input), &source))
        return false;

    // Writing over the input would lose it, so the destination is compared with the input by
    // identity first, whatever path names it (a second link, a symbolic link, another spelling).
    FileFacts existing;
    const int look = DescribeDestination(native, &existing);
    if (look == 0)
    {
        if (SameFile(existing.identity, source.identity))
        {
            errno = EEXIST;
            return false;
        }
        if (!existing.regular)
            return OpenInPlace(native, source.identity, output);
        // A symbolic link stays a link: the file it leads to is the one replaced.
        if (!ResolvedPath(native, output->finalPath, kNativePathSize))
            return false;
    }
    else if (look != ENOENT)
    {
        errno = look;
        return false;
    }
    else if (!CopyPathUnchanged(native, output->finalPath, kNativePathSize))
    {
        errno = ENAMETOOLONG;
        return false;
    }

    OpenMode mode;
    mode.write = true;
    mode.text = false;
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        if (!TemporaryPathFor(output->finalPath, output->temporaryPath))
        {
            errno = ENAMETOOLONG;
            return false;
        }
        // The replacement keeps the permissions of the file it replaces.
        const int fd =
            CreateExclusive(output->temporaryPath, mode, look == 0 ? &existing : nullptr);
        if (fd < 0)
        {
            if (errno == EEXIST)
                continue;
            return false;
        }
        output->stream = StreamFromDescriptor(fd, "wb");
        if (output->stream == nullptr)
        {
            const int saved = errno;
            std::remove(output->temporaryPath);
            errno = saved;
            return false;
        }
        output->replaces = true;
        return true;
    }
    errno = EEXIST;
    return false;
}

int CommitOutputFile(OutputFile* output)
{
    // fclose writes what the stream still holds: a full disk may show only here.
    const bool flushed = std::fflush(output->stream) == 0;
    int error = flushed ? 0 : (errno != 0 ? errno : EIO);
    const bool closed = std::fclose(output->stream) == 0;
    output->stream = nullptr;
    if (error == 0 && !closed)
        error = errno != 0 ? errno : EIO;
    if (!output->replaces)
        return error;
    if (error == 0)
        error = RenameOver(output->temporaryPath, output->finalPath);
    if (error != 0)
        std::remove(output->temporaryPath);
    return error;
}

void DiscardOutputFile(OutputFile* output)
{
    if (output->stream != nullptr)
        std::fclose(output->stream);
    output->stream = nullptr;
    if (output->replaces)
        std::remove(output->temporaryPath);
}

bool SameOpenFile(int fd, std::FILE* file)
{
    FileFacts a;
    FileFacts b;
    return file != nullptr && DescribeOpenFile(fd, &a) &&
           DescribeOpenFile(DescriptorOf(file), &b) && SameFile(a.identity, b.identity);
}

} // namespace genplot::detail
