#include "platform/native_path_internal.h"
#include "platform/os_internal.h"
#include "platform/plot_queue_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

// Host paths to native ones, and the folders files are made in. Where drive letters are not the
// system's own, each drive is a folder: `$GENPLOT_DRIVE_C` for C, else
// `$XDG_DATA_HOME/genplot/drive_c`, else `~/.local/share/genplot/drive_c`.

namespace genplot::detail
{
namespace
{

bool IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The folder that stands for drive `letter`, without trailing separators; empty when none can
// be determined.
std::string DriveFolder(char letter)
{
    const char upper = letter >= 'a' ? static_cast<char>(letter - 'a' + 'A') : letter;
    const char lower = static_cast<char>(upper - 'A' + 'a');
    char variable[] = "GENPLOT_DRIVE_?";
    variable[sizeof variable - 2] = upper;

    std::string folder;
    if (!ReadEnvironment(variable, folder) || folder.empty())
    {
        // The XDG rules say a relative XDG_DATA_HOME is to be ignored.
        if (!ReadEnvironment("XDG_DATA_HOME", folder) || folder.empty() || folder[0] != '/')
        {
            folder = HomeFolder();
            if (folder.empty())
                return folder;
            folder += "/.local/share";
        }
        folder += "/genplot/drive_";
        folder += lower;
    }
    // "c:\x" and "c:x" both name x in the drive's root: drop trailing slashes here and let
    // the rest of the path bring its own.
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// The drive-letter path `hostPath` in its drive's folder, with every `\` turned into `/`.
bool MapDrivePath(const char* hostPath, char* out, std::size_t outSize)
{
    std::string path = DriveFolder(hostPath[0]);
    if (path.empty())
        return false;
    const char* rest = hostPath + 2;
    if (rest[0] != '\\' && rest[0] != '/' && rest[0] != '\0')
        path += '/';
    for (const char* c = rest; *c != '\0'; ++c)
        path += *c == '\\' ? '/' : *c;
    return CopyPathUnchanged(path.c_str(), out, outSize);
}

} // namespace

bool CopyPathUnchanged(const char* hostPath, char* out, std::size_t outSize)
{
    if (outSize == 0)
        return false;
    out[0] = '\0';
    if (hostPath == nullptr)
        return false;
    const std::size_t length = std::strlen(hostPath);
    if (length >= outSize)
        return false;
    std::memcpy(out, hostPath, length + 1);
    return true;
}

bool NativePath(const char* hostPath, char* out, std::size_t outSize)
{
    if (hostPath == nullptr || DriveLettersAreNative() ||
        !(IsDriveLetter(hostPath[0]) && hostPath[1] == ':'))
        return CopyPathUnchanged(hostPath, out, outSize);
    if (outSize == 0)
        return false;
    out[0] = '\0';
    try
    {
        return MapDrivePath(hostPath, out, outSize);
    }
    catch (const std::bad_alloc&)
    {
        out[0] = '\0';
        return false;
    }
}

bool TemporaryPathFor(const char* finalPath, char (&path)[kNativePathSize])
{
    // Most file systems take names of up to 255 bytes: the dot, the cut name and the suffix of
    // nine stay below that.
    constexpr std::size_t kNameKept = 200;
    std::size_t folderLength = RootLength(finalPath);
    for (std::size_t i = folderLength; finalPath[i] != '\0'; ++i)
    {
        if (IsSeparator(finalPath[i]))
            folderLength = i + 1;
    }
    const char* name = finalPath + folderLength;
    const std::size_t nameLength = std::min(std::strlen(name), kNameKept);
    const int written = std::snprintf(
        path, sizeof path, "%.*s.%.*s.%08X", static_cast<int>(folderLength), finalPath,
        static_cast<int>(nameLength), name, static_cast<unsigned>(NextCandidate()));
    return written > 0 && static_cast<std::size_t>(written) < sizeof path;
}

bool MakeDirectories(const char* nativeDir)
{
    if (nativeDir == nullptr || nativeDir[0] == '\0')
        return false;
    char path[kNativePathSize];
    if (!CopyPathUnchanged(nativeDir, path, sizeof path))
        return false;

    // Create each folder below the root in turn; one that exists already (or is made by
    // another process at the same moment) is fine, and any other failure shows in the check
    // at the end.
    const std::size_t length = std::strlen(path);
    for (std::size_t i = RootLength(path); i <= length; ++i)
    {
        if (!IsSeparator(path[i]) && path[i] != '\0')
            continue;
        if (i == 0 || IsSeparator(path[i - 1]))
            continue;
        const char saved = path[i];
        path[i] = '\0';
        MakeFolder(path);
        path[i] = saved;
    }
    return IsFolder(nativeDir);
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
