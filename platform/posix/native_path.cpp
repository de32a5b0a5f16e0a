#include "platform/native_path_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace genplot::detail
{
namespace
{

bool IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Appends `text` to `out` at `*used`; false when it does not fit with its NUL.
bool Append(char* out, std::size_t outSize, std::size_t* used, const char* text)
{
    const std::size_t length = std::strlen(text);
    if (length >= outSize - *used)
        return false;
    std::memcpy(out + *used, text, length + 1);
    *used += length;
    return true;
}

const char* HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    // A service started without HOME still has a password entry.
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/' ? entry->pw_dir
                                                                                   : nullptr;
}

// The folder that stands for drive `letter`, without a trailing slash.
bool DriveFolder(char letter, char* out, std::size_t outSize, std::size_t* used)
{
    const char upper = letter >= 'a' ? static_cast<char>(letter - 'a' + 'A') : letter;
    const char lower = static_cast<char>(upper - 'A' + 'a');
    char variable[] = "GENPLOT_DRIVE_?";
    variable[sizeof variable - 2] = upper;
    const char suffix[] = {'/', 'g', 'e', 'n', 'p', 'l', 'o',   't', '/',
                           'd', 'r', 'i', 'v', 'e', '_', lower, '\0'};

    bool fits;
    const char* root = std::getenv(variable);
    if (root != nullptr && root[0] != '\0')
    {
        fits = Append(out, outSize, used, root);
    }
    else
    {
        // The XDG rules say a relative XDG_DATA_HOME is to be ignored.
        const char* dataHome = std::getenv("XDG_DATA_HOME");
        if (dataHome != nullptr && dataHome[0] == '/')
        {
            fits = Append(out, outSize, used, dataHome);
        }
        else
        {
            const char* home = HomeDirectory();
            if (home == nullptr)
                return false;
            fits = Append(out, outSize, used, home) && Append(out, outSize, used, "/.local/share");
        }
        fits = fits && Append(out, outSize, used, suffix);
    }
    // "c:\x" and "c:x" both name x in the drive's root: drop trailing slashes here and let
    // the rest of the path bring its own.
    while (fits && *used > 1 && out[*used - 1] == '/')
        out[--*used] = '\0';
    return fits;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

bool NativePath(const char* hostPath, char* out, std::size_t outSize)
{
    if (hostPath == nullptr || !(IsDriveLetter(hostPath[0]) && hostPath[1] == ':'))
        return CopyPathUnchanged(hostPath, out, outSize);
    if (outSize == 0)
        return false;
    out[0] = '\0';

    std::size_t used = 0;
    const char* rest = hostPath + 2;
    bool fits = DriveFolder(hostPath[0], out, outSize, &used);
    if (fits && rest[0] != '\\' && rest[0] != '/' && rest[0] != '\0')
        fits = Append(out, outSize, &used, "/");
    for (const char* c = rest; fits && *c != '\0'; ++c)
    {
        if (used + 1 >= outSize)
        {
            fits = false;
            break;
        }
        out[used++] = *c == '\\' ? '/' : *c;
        out[used] = '\0';
    }
    if (!fits)
        out[0] = '\0';
    return fits;
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
    // Without O_NONBLOCK, opening a named pipe waits for a writer, possibly forever.
    const int fd = open(native, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        *notRegular = true;
        close(fd);
        errno = EINVAL;
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* input =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb") : nullptr;
    if (input == nullptr)
    {
        const int saved = errno;
        close(fd);
        errno = saved;
        return nullptr;
    }
    *size = static_cast<long long>(info.st_size);
    return input;
}

namespace
{

// A device or a named pipe that exists: written where it is. O_NONBLOCK keeps the open from
// waiting for a pipe's reader (ENXIO when there is none); the writes themselves block again.
bool OpenInPlace(const char* native, const struct stat& source, OutputFile* output)
{
    const int fd = open(native, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened;
    const int flags = fcntl(fd, F_GETFL);
    const bool usable =
        fstat(fd, &opened) == 0 && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    // The path may have been switched to the input since it was looked at.
    if (!usable || SameFile(opened, source))
    {
        const int saved = usable ? EEXIST : errno;
        close(fd);
        errno = saved;
        return false;
    }
    output->stream = fdopen(fd, "wb");
    if (output->stream == nullptr)
    {
        const int saved = errno;
        close(fd);
        errno = saved;
        return false;
    }
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
    struct stat source;
    if (fstat(fileno(input), &source) != 0)
        return false;

    // Writing over the input would lose it, so the destination is compared with the input by
    // identity first, whatever path names it.
    struct stat existing;
    mode_t mode = 0666;
    if (stat(native, &existing) == 0)
    {
        if (SameFile(existing, source))
        {
            errno = EEXIST;
            return false;
        }
        if (!S_ISREG(existing.st_mode))
            return OpenInPlace(native, source, output);
        // A symbolic link stays a link: the file it leads to is the one replaced.
        if (realpath(native, output->finalPath) == nullptr)
            return false;
        mode = existing.st_mode & 07777;
    }
    else if (errno != ENOENT || !CopyPathUnchanged(native, output->finalPath, kNativePathSize))
    {
        return false;
    }

    // The copy goes to a new file beside the destination, so the rename at the end stays on
    // one file system and is atomic.
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        if (!TemporaryPathFor(output->finalPath, "/", output->temporaryPath))
        {
            errno = ENAMETOOLONG;
            return false;
        }
        const int fd = open(output->temporaryPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
        {
            if (errno == EEXIST || errno == EINTR)
                continue;
            return false;
        }
        // The replacement keeps the permissions of the file it replaces.
        if (mode != 0666)
            fchmod(fd, mode);
        output->stream = fdopen(fd, "wb");
        if (output->stream == nullptr)
        {
            const int saved = errno;
            close(fd);
            unlink(output->temporaryPath);
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
    if (error == 0 && rename(output->temporaryPath, output->finalPath) != 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0)
        unlink(output->temporaryPath);
    return error;
}

void DiscardOutputFile(OutputFile* output)
{
    if (output->stream != nullptr)
        std::fclose(output->stream);
    output->stream = nullptr;
    if (output->replaces)
        unlink(output->temporaryPath);
}

bool MakeDirectories(const char* nativeDir)
{
    char path[kNativePathSize];
    std::size_t length = 0;
    if (!CopyDirectoryPath(nativeDir, path, &length))
        return false;

    // Create each ancestor in turn; one that exists already (or is made by another process at
    // the same moment) is fine.
    for (std::size_t i = 1; i <= length; ++i)
    {
        if (path[i] != '/' && path[i] != '\0')
            continue;
        const char saved = path[i];
        path[i] = '\0';
        if (mkdir(path, 0777) != 0 && errno != EEXIST)
        {
            path[i] = saved;
            break;
        }
        path[i] = saved;
    }
    struct stat info;
    return stat(nativeDir, &info) == 0 && S_ISDIR(info.st_mode);
}

bool SameOpenFile(int fd, std::FILE* file)
{
    struct stat a;
    struct stat b;
    return file != nullptr && fstat(fd, &a) == 0 && fstat(fileno(file), &b) == 0 && SameFile(a, b);
}

bool MakeParentDirectories(const char* nativeFile)
{
    char folder[kNativePathSize];
    if (!CopyPathUnchanged(nativeFile, folder, sizeof folder))
        return false;
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr || slash == folder)
        return true; // the current folder, or the root
    *slash = '\0';
    return MakeDirectories(folder);
}

} // namespace genplot::detail
