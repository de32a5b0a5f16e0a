#include "platform/native_path_internal.h"
#include "platform/win_types.h"

#include <cstring>
#include <fcntl.h>
#include <io.h>

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

std::FILE* OpenOutputFile(const char* hostPath, std::FILE* input)
{
    char native[kNativePathSize];
    if (input == nullptr || !NativePath(hostPath, native, sizeof native))
        return nullptr;
    FileIdentity source;
    if (!IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input))), &source))
        return nullptr;

    // Opening the input itself with "wb" would empty it before a byte is copied. So the
    // destination is opened without truncating, whatever path names it (a second hard link,
    // a symbolic link, another spelling), compared with the input by identity, and emptied
    // only when it is known to be another file. The share modes are those of fopen, so the
    // input, open for reading, does not block the open.
    HANDLE file = CreateFileA(native, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    const bool isDisk = GetFileType(file) == FILE_TYPE_DISK;
    FileIdentity opened;
    bool usable;
    if (isDisk)
    {
        usable = IdentityOf(file, &opened) && !SameFile(opened, source) &&
                 SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                 SetEndOfFile(file);
    }
    else
    {
        // A device ("NUL", a console) has no index and cannot be the input file.
        usable = true;
    }
    if (!usable)
    {
        CloseHandle(file);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0)
    {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* output = _fdopen(fd, "wb");
    if (output == nullptr)
        _close(fd); // closes the handle too
    return output;
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

} // namespace genplot::detail
