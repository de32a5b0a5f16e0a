#include "platform/native_path_internal.h"

#include <cerrno>
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

std::FILE* OpenOutputFile(const char* hostPath, std::FILE* input)
{
    char native[kNativePathSize];
    if (input == nullptr || !NativePath(hostPath, native, sizeof native))
        return nullptr;
    struct stat source;
    if (fstat(fileno(input), &source) != 0)
        return nullptr;

    // Opening the input itself with "wb" would empty it before a byte is copied, so the
    // destination is compared with the input by identity first, whatever path names it.
    struct stat existing;
    if (stat(native, &existing) == 0 && SameFile(existing, source))
        return nullptr;

    // Open without truncating and compare again: the path may have been switched to the input
    // between the check above and the open. Only a file known to be another one is emptied.
    const int fd = open(native, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat opened;
    if (fstat(fd, &opened) != 0 || SameFile(opened, source) ||
        (S_ISREG(opened.st_mode) && ftruncate(fd, 0) != 0))
    {
        close(fd);
        return nullptr;
    }
    std::FILE* output = fdopen(fd, "wb");
    if (output == nullptr)
        close(fd);
    return output;
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

} // namespace genplot::detail
