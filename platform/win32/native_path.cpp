#include "platform/native_path_internal.h"
#include "platform/win_types.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

// On Windows the host's notation is the native one: "c:\userroot\devq\plotter\" is that very
// folder, and a path is passed on unchanged.

namespace genplot::detail
{
namespace
{

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Length of the part of `path` that names a root and cannot be created: "c:\" or "c:",
// "\\server\share\", "\\?\c:\", or a leading "\" of a path on the current drive.
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

// File identity: the volume's serial number and the file's index on it. On ReFS the index is
// the low half of a 128-bit id, so two files could in principle share it; that only makes
// OpenOutputFile refuse a destination, never empty the input.
struct FileIdentity
{
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

bool IdentityOf(HANDLE file, FileIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info))
        return false;
    *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

} // namespace

bool NativePath(const char* hostPath, char* out, std::size_t outSize)
{
    return CopyPathUnchanged(hostPath, out, outSize);
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
    const int fd = _open(native, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        return nullptr;
    // A device ("NUL", "CON", a pipe) is not a plot file, and reading a console or a pipe
    // could wait for ever.
    struct _stati64 info;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK ||
        _fstati64(fd, &info) != 0 || (info.st_mode & _S_IFREG) == 0)
    {
        *notRegular = true;
        _close(fd);
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* input = _fdopen(fd, "rb");
    if (input == nullptr)
    {
        const int saved = errno;
        _close(fd);
        errno = saved;
        return nullptr;
    }
    *size = static_cast<long long>(info.st_size);
    return input;
}

namespace
{

// A device is written where it is; it has no index and cannot be the input file.
bool OpenInPlace(HANDLE file, OutputFile* output)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0)
    {
        CloseHandle(file);
        errno = EBADF;
        return false;
    }
    output->stream = _fdopen(fd, "wb");
    if (output->stream == nullptr)
    {
        const int saved = errno;
        _close(fd); // closes the handle too
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
    FileIdentity source;
    if (!IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input))), &source))
    {
        errno = EBADF;
        return false;
    }

    // What the destination is now, if anything: the input under any name (a second hard link,
    // another spelling) is refused, a device is written in place, and a disk file is replaced
    // by a complete copy only. The share modes are those of fopen, so the input, open for
    // reading, does not block the open.
    HANDLE existing = CreateFileA(native, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE)
    {
        if (GetFileType(existing) != FILE_TYPE_DISK)
            return OpenInPlace(existing, output);
        FileIdentity opened;
        const bool other = IdentityOf(existing, &opened) && !SameFile(opened, source);
        CloseHandle(existing);
        if (!other)
        {
            errno = EEXIST;
            return false;
        }
    }
    else if (GetLastError() != ERROR_FILE_NOT_FOUND)
    {
        errno = GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return false;
    }
    if (!CopyPathUnchanged(native, output->finalPath, kNativePathSize))
    {
        errno = ENAMETOOLONG;
        return false;
    }

    // The copy goes to a new file beside the destination and replaces it only when complete.
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        if (!TemporaryPathFor(output->finalPath, "\\/:", output->temporaryPath))
        {
            errno = ENAMETOOLONG;
            return false;
        }
        const int fd =
            _open(output->temporaryPath, _O_WRONLY | _O_BINARY | _O_CREAT | _O_EXCL | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
        if (fd < 0)
        {
            if (errno == EEXIST)
                continue;
            return false;
        }
        output->stream = _fdopen(fd, "wb");
        if (output->stream == nullptr)
        {
            const int saved = errno;
            _close(fd);
            _unlink(output->temporaryPath);
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
    const bool flushed = std::fflush(output->stream) == 0;
    int error = flushed ? 0 : (errno != 0 ? errno : EIO);
    const bool closed = std::fclose(output->stream) == 0;
    output->stream = nullptr;
    if (error == 0 && !closed)
        error = errno != 0 ? errno : EIO;
    if (!output->replaces)
        return error;
    if (error == 0 &&
        !MoveFileExA(output->temporaryPath, output->finalPath, MOVEFILE_REPLACE_EXISTING))
        error = EACCES;
    if (error != 0)
        _unlink(output->temporaryPath);
    return error;
}

void DiscardOutputFile(OutputFile* output)
{
    if (output->stream != nullptr)
        std::fclose(output->stream);
    output->stream = nullptr;
    if (output->replaces)
        _unlink(output->temporaryPath);
}

bool MakeDirectories(const char* nativeDir)
{
    char path[kNativePathSize];
    std::size_t length = 0;
    if (!CopyDirectoryPath(nativeDir, path, &length))
        return false;

    // Create each folder below the root in turn; one that exists already (or is made by
    // another process at the same moment) is fine, and any other failure shows in the check
    // at the end.
    for (std::size_t i = RootLength(path); i <= length; ++i)
    {
        if (!IsSeparator(path[i]) && path[i] != '\0')
            continue;
        if (i == 0 || IsSeparator(path[i - 1]))
            continue;
        const char saved = path[i];
        path[i] = '\0';
        CreateDirectoryA(path, nullptr);
        path[i] = saved;
    }
    const DWORD attributes = GetFileAttributesA(nativeDir);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SameOpenFile(int fd, std::FILE* file)
{
    FileIdentity a;
    FileIdentity b;
    return file != nullptr && IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &a) &&
           IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &b) &&
           SameFile(a, b);
}

bool MakeParentDirectories(const char* nativeFile)
{
    char folder[kNativePathSize];
    if (!CopyPathUnchanged(nativeFile, folder, sizeof folder))
        return false;
    std::size_t cut = 0;
    for (std::size_t i = 0; folder[i] != '\0'; ++i)
    {
        if (IsSeparator(folder[i]))
            cut = i;
    }
    if (cut <= RootLength(folder))
        return true; // in a root, or in the current folder
    folder[cut] = '\0';
    return MakeDirectories(folder);
}

} // namespace genplot::detail
