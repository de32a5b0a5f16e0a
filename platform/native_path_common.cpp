#include "platform/native_path_internal.h"
#include "platform/plot_queue_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// The parts of the path layer that do not depend on how the platform spells a path.

namespace genplot::detail
{

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

bool TemporaryPathFor(const char* finalPath, const char* separators, char (&path)[kNativePathSize])
{
    // Most file systems take names of up to 255 bytes: the dot, the cut name and the suffix of
    // nine stay below that.
    constexpr std::size_t kNameKept = 200;
    std::size_t folderLength = 0;
    for (std::size_t i = 0; finalPath[i] != '\0'; ++i)
    {
        if (std::strchr(separators, finalPath[i]) != nullptr)
            folderLength = i + 1;
    }
    const char* name = finalPath + folderLength;
    const std::size_t nameLength = std::min(std::strlen(name), kNameKept);
    const int written = std::snprintf(
        path, sizeof path, "%.*s.%.*s.%08X", static_cast<int>(folderLength), finalPath,
        static_cast<int>(nameLength), name, static_cast<unsigned>(NextCandidate()));
    return written > 0 && static_cast<std::size_t>(written) < sizeof path;
}

bool CopyDirectoryPath(const char* nativeDir, char (&path)[kNativePathSize], std::size_t* length)
{
    if (nativeDir == nullptr || nativeDir[0] == '\0')
        return false;
    *length = std::strlen(nativeDir);
    if (*length >= sizeof path)
        return false;
    std::memcpy(path, nativeDir, *length + 1);
    return true;
}

} // namespace genplot::detail
